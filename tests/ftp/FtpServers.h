#pragma once
#include <cstdlib>
#include <memory>
#include <string>

// Real FTP servers for the tests, each on a free loopback port serving one
// folder to one user; stopped (killed and reaped) when the object goes.
enum class ServerKind { Pyftpdlib, PureFtpd };

struct ServerOptions {
    std::string root; // the served folder
    std::string user = "alice";
    std::string password = "s3cret pw";
    bool anonymous = false; // pyftpdlib only: the anonymous user may read too
};

class FtpServerProcess {
public:
    // Starts the server and waits until it accepts connections. Nothing, and
    // the reason in `why`, when it cannot be started.
    static std::unique_ptr<FtpServerProcess> Start(ServerKind kind, const ServerOptions& options,
                                                   std::string& why);
    ~FtpServerProcess();
    FtpServerProcess(const FtpServerProcess&) = delete;
    FtpServerProcess& operator=(const FtpServerProcess&) = delete;

    int Port() const { return port_; }

private:
    FtpServerProcess(int pid, int port) : pid_(pid), port_(port) {}
    int pid_;
    int port_;
};

const char* ServerName(ServerKind kind);
// Whether the server's program is installed (pure-ftpd also needs root).
bool ServerInstalled(ServerKind kind, std::string& why);

// A missing server skips on a developer's machine but fails under CI, where
// the test command installs both.
#define REQUIRE_SERVER(kind)                                                                       \
    do {                                                                                           \
        std::string why_;                                                                          \
        if (!ServerInstalled(kind, why_)) {                                                        \
            if (std::getenv("CI") != nullptr)                                                      \
                FAIL() << ServerName(kind) << ": " << why_;                                        \
            GTEST_SKIP() << ServerName(kind) << ": " << why_;                                      \
        }                                                                                          \
    } while (false)
