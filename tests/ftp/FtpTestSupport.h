#pragma once
#include "core/Globals.h"
#include "ftp/FakeFtpServer.h"
#include "ftp/clsFTPConnection.h"
#include "i18n/Catalogue.h"
#include "platform/ProgramFolder.h"
#include "support/TempHome.h"
#include "support/TestHost.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// A fresh program folder (the activity log lands there), the English
// catalogue and a recording host for every FTP test.
class FtpTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramFolder(home.Path());
        LoadMessageCatalogue("");
        gAbort = false;
        gPaused = false;
    }
    void TearDown() override {
        gAbort = false;
        gPaused = false;
        SetProgramFolder("");
    }

    // The activity lines without their time stamps.
    std::vector<std::string> Log() const {
        std::vector<std::string> lines;
        for (const std::string& line : host.activity) {
            const std::size_t stamp = line.find("]-");
            lines.push_back(stamp == std::string::npos ? line : line.substr(stamp + 2));
        }
        return lines;
    }
    bool Logged(const std::string& line) const {
        const std::vector<std::string> lines = Log();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    long Count(const std::string& line) const {
        const std::vector<std::string> lines = Log();
        return std::count(lines.begin(), lines.end(), line);
    }

    TempHome home;
    TestHost host;
};

// The steps of a server that greets and accepts alice's login.
inline std::vector<FakeStep> LoginScript() {
    return {{"", {Reply("220 fake server ready\r\n")}},
            {"USER alice", {Reply("331 Password required for alice\r\n")}},
            {"pass pw", {Reply("230 Logged in\r\n")}}};
}

inline std::vector<FakeStep> operator+(std::vector<FakeStep> a, const std::vector<FakeStep>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Logs in to the fake as alice (passive mode unless told otherwise).
inline bool LogIn(clsFTPConnection& ftp, const FakeFtpServer& server, bool passive = true) {
    ftp.SetupConnection("127.0.0.1", server.Port(), "alice", "pw", passive);
    return ftp.EstablishConnection();
}

// Wall time of a call, only ever compared with generous bounds that catch
// hangs, never with the client's exact waits.
template <typename F> long long MillisecondsTaken(F&& call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}
