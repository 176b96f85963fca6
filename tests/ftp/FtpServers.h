#pragma once
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

// A Python helper of tests/ftp serving on a loopback port while the object
// lives. It prints "READY <port> <process group>", or why it cannot run, and
// is stopped with its whole process group.
class ServerScript {
public:
    // `arguments` follow the script's name; they are quoted by the caller.
    explicit ServerScript(const std::string& arguments);
    ~ServerScript();
    ServerScript(const ServerScript&) = delete;
    ServerScript& operator=(const ServerScript&) = delete;

    int Port() const { return port_; }
    // The first line, when it was not READY: "MISSING ..." for a server
    // that cannot run on this machine at all.
    const std::string& Why() const { return why_; }
    FILE* Output() const { return pipe_; }

private:
    FILE* pipe_ = nullptr;
    int port_ = 0;
    int group_ = 0;
    std::string why_;
};

// Real FTP servers for the tests (ftp_server.py), each serving one folder.
enum class ServerKind { Pyftpdlib, PureFtpd };

struct ServerOptions {
    std::string root; // the served folder
    std::string user = "alice";
    std::string password = "s3cret pw";
    bool anonymous = false; // pyftpdlib: the anonymous user may read too
};

std::string Quoted(const std::string& text);
std::unique_ptr<ServerScript> StartServer(ServerKind kind, const ServerOptions& options);

// Starts a server into `server`: one missing on this machine skips the test,
// but fails it under CI, where the test command installs both.
#define START_SERVER(server, kind, ...)                                                            \
    do {                                                                                           \
        server = StartServer(kind, __VA_ARGS__);                                                   \
        if (server->Port() == 0 && server->Why().rfind("MISSING", 0) == 0 &&                       \
            std::getenv("CI") == nullptr)                                                          \
            GTEST_SKIP() << server->Why();                                                         \
        ASSERT_NE(server->Port(), 0) << server->Why();                                             \
    } while (false)
