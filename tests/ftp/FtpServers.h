#pragma once
#include <memory>
#include <string>

// Real FTP servers for the tests, each on a free loopback port serving one
// folder to one user; stopped (killed and reaped) when the object goes.
enum class ServerKind { Pyftpdlib, PureFtpd };

struct ServerOptions {
    std::string root; // the served folder
    std::string user = "alice";
    std::string password = "s3cret pw";
    // pyftpdlib: also serve the anonymous user (read only). pure-ftpd: give
    // the server an anonymous account, in a private mount namespace so the
    // machine's user list stays untouched.
    bool anonymous = false;
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
