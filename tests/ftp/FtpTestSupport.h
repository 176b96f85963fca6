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

using Strings = std::vector<std::string>;

// A fresh program folder (the activity log lands there), the English
// catalogue and a recording host for every FTP test.
class FtpTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramFolder(home.Path());
        LoadMessageCatalogue("");
        gAbort = gPaused = false;
    }
    void TearDown() override {
        gAbort = gPaused = false;
        SetProgramFolder("");
    }

    // The activity lines without their time stamps.
    Strings Log() const {
        Strings lines;
        for (const std::string& line : host.activity)
            lines.push_back(
                line.substr(line.find("]-") == std::string::npos ? 0 : line.find("]-") + 2));
        return lines;
    }
    long Count(const std::string& line) const {
        const Strings lines = Log();
        return std::count(lines.begin(), lines.end(), line);
    }
    bool Logged(const std::string& line) const { return Count(line) > 0; }

    TempHome home;
    TestHost host;
};

// Every byte value, line ends and NULs among them: a transfer must not touch
// a single one.
inline std::string BinaryContent(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

// The steps of a server that greets and accepts alice's login.
inline std::vector<FakeStep> LoginScript() {
    return {{"", "220 fake server ready"},
            {"USER alice", "331 Password required for alice"},
            {"pass pw", "230 Logged in"}};
}

inline Strings LoginAnd(const Strings& commands) {
    Strings all = {"USER alice", "pass pw"};
    all.insert(all.end(), commands.begin(), commands.end());
    return all;
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
