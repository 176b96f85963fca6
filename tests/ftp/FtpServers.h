#pragma once
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

// Real FTP servers for the tests (tests/ftp/ftp_server.py), each on a free
// loopback port serving one folder to one user; stopped when the object goes.
enum class ServerKind { Pyftpdlib, PureFtpd };

struct ServerOptions {
    std::string root; // the served folder
    std::string user = "alice";
    std::string password = "s3cret pw";
    bool anonymous = false; // pyftpdlib: the anonymous user may read too
};

class FtpServerProcess {
public:
    // Nothing when the server cannot be started, with the reason in `why`:
    // "MISSING ..." when it cannot run on this machine at all.
    static std::unique_ptr<FtpServerProcess> Start(ServerKind kind, const ServerOptions& options,
                                                   std::string& why);
    ~FtpServerProcess();
    FtpServerProcess(const FtpServerProcess&) = delete;
    FtpServerProcess& operator=(const FtpServerProcess&) = delete;

    int Port() const { return port_; }

private:
    FtpServerProcess(FILE* pipe, int port, int group) : pipe_(pipe), port_(port), group_(group) {}
    FILE* pipe_;
    int port_;
    int group_;
};

// Starts a server into `server`: one missing on this machine skips the test,
// but fails it under CI, where the test command installs both.
#define START_SERVER(server, kind, ...)                                                            \
    do {                                                                                           \
        std::string why_;                                                                          \
        server = FtpServerProcess::Start(kind, __VA_ARGS__, why_);                                 \
        if (!server && why_.rfind("MISSING", 0) == 0 && std::getenv("CI") == nullptr)              \
            GTEST_SKIP() << why_;                                                                  \
        ASSERT_NE(server, nullptr) << why_;                                                        \
    } while (false)
