#pragma once
#include "core/Globals.h"
#include "ftp/clsFTPConnection.h"
#include "i18n/Catalogue.h"
#include "platform/ProgramFolder.h"
#include "support/TempHome.h"
#include "support/TestHost.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
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

    int Port() const { return port_; }
    const std::string& Why() const { return why_; }
    FILE* Output() const { return pipe_; }

private:
    FILE* pipe_ = nullptr;
    int port_ = 0;
    int group_ = 0;
    std::string why_;
};

// A real FTP server (ftp_server.py) serving `root` to alice, password kPassword.
enum class ServerKind { Pyftpdlib, PureFtpd };
inline const std::string kPassword = "s3cret pw";
std::unique_ptr<ServerScript> StartServer(ServerKind kind, const std::string& root);

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
    bool Signalled() const { return Exists("signalled"); } // the script has reached a @signal
    std::string Uploaded() const { return Exists("uploaded") ? folder_.Read("uploaded") : ""; }
    // Once the client has hung up: how the session strayed from the script.
    Strings Problems();

private:
    bool Exists(const std::string& name) const {
        return ::access(folder_.File(name).c_str(), F_OK) == 0;
    }
    TempHome folder_;
    ::Blobs blobs_;
    std::unique_ptr<ServerScript> server_;
};

// A loopback port with nothing listening on it (bound once, then released).
int ClosedLoopbackPort();

// A fresh program folder (for the activity log), the English catalogue and
// a recording host.
class FtpTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramFolder(home.Path());
        LoadMessageCatalogue("");
        gAbort = false;
    }
    void TearDown() override {
        gAbort = false;
        SetProgramFolder("");
    }

    // The activity lines without their time stamps.
    Strings Log() const {
        Strings lines;
        for (const std::string& a : host.activity)
            lines.push_back(a.substr(a.find("]-") + 2));
        return lines;
    }
    long Count(const std::string& line) const {
        const Strings lines = Log();
        return std::count(lines.begin(), lines.end(), line);
    }
    bool Logged(const std::string& line) const { return Count(line) > 0; }

    // Client operations, "|" between, and their outcomes the same way:
    //   login|active [USER PW]  connect passive/active (default alice pw; "-" anonymous)
    //   get NAME[>PATH]  result and what PATH (default home/got) holds: a blob's
    //                    name, "other", "device" or "-"
    //   local BLOB       writes the blob to home/got; put DIR/BLOB uploads it
    //   list             sorted entries, "name" or "name/", ","; or "none"
    //   cwd|mkd|rmd PATH, ren FROM>TO: results (mkd: and the folded path)
    //   pwd, code, state, uploaded (the blob the fake received, "other", "-")
    std::string Do(clsFTPConnection& ftp, int port, const Blobs& blobs, const std::string& ops,
                   FakeFtpServer* fake = nullptr);
    std::string Do(clsFTPConnection& ftp, FakeFtpServer& fake, const std::string& ops) {
        return Do(ftp, fake.Port(), fake.Blobs(), ops, &fake);
    }

    TempHome home;
    TestHost host;
};

// Every byte value, line ends and NULs among them.
std::string BinaryContent(std::size_t size);

// A server that greets and accepts alice's login, as the start of a script.
inline const std::string kLogin =
    "=220 fake server ready|USER alice=331 Password required for alice|pass pw=230 Logged in|";

// Wall time of a call, only compared with generous bounds that catch hangs.
template <typename F> long long MillisecondsTaken(F&& call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    const auto taken = std::chrono::steady_clock::now() - start;
    return std::chrono::duration_cast<std::chrono::milliseconds>(taken).count();
}
