#pragma once
#include "support/TempHome.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

using Strings = std::vector<std::string>;
using Blobs = std::map<std::string, std::string>;

// A Python helper of tests/ftp serving on a loopback port while the object
// lives. It prints "READY <port> <process group>", or why it cannot run
// ("MISSING ..." when it cannot run on this machine at all), and is stopped
// with its whole process group.
class ServerScript {
public:
    explicit ServerScript(const std::string& arguments); // quoted by the caller
    ~ServerScript();
    ServerScript(const ServerScript&) = delete;
    ServerScript& operator=(const ServerScript&) = delete;

    int Port() const { return port_; }
    const std::string& Why() const { return why_; }
    FILE* Output() const { return pipe_; }

private:
    FILE* pipe_ = nullptr;
    int port_ = 0;
    int group_ = 0;
    std::string why_;
};

// A real FTP server (ftp_server.py) serving `root` to alice, password
// kPassword; with `anonymous`, pyftpdlib lets the anonymous user read too.
enum class ServerKind { Pyftpdlib, PureFtpd };
inline const std::string kPassword = "s3cret pw";
std::string Quoted(const std::string& text);
std::unique_ptr<ServerScript> StartServer(ServerKind kind, const std::string& root,
                                          bool anonymous = false);

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

// The scripted server of fake_ftp_server.py (its script language is described
// there) for one session; blobs named in the script are its files to send.
class FakeFtpServer {
public:
    // Port 0: any free port; Port() is 0 when the server did not start.
    explicit FakeFtpServer(const std::string& script, Blobs blobs = {}, int port = 0);

    int Port() const { return server_->Port(); }
    const ::Blobs& Blobs() const { return blobs_; }
    bool Signalled() const; // the script has reached a @signal
    std::string Uploaded() const;
    // Once the client has hung up: how the session strayed from the script.
    Strings Problems();

private:
    TempHome folder_;
    ::Blobs blobs_;
    std::unique_ptr<ServerScript> server_;
};

// A loopback port with nothing listening on it (bound once, then released).
int ClosedLoopbackPort();
