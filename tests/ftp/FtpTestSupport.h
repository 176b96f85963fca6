#pragma once
#include "ftp/FakeFtpServer.h"
#include "ftp/clsFTPConnection.h"
#include "support/TempHome.h"
#include "support/TestHost.h"

#include <chrono>
#include <gtest/gtest.h>

// A fresh program folder (the activity log lands there), the English
// catalogue and a recording host for every FTP test.
class FtpTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The activity lines without their time stamps.
    Strings Log() const;
    long Count(const std::string& line) const;
    bool Logged(const std::string& line) const { return Count(line) > 0; }

    // Client operations written as text, separated by "|"; their outcomes
    // the same way:
    //   login [USER]       EstablishConnection as USER (default alice, "-" for
    //                      anonymous) with password pw, passive; the result
    //   active             the same in active mode
    //   get NAME[>PATH]    GetFile into PATH (default home/got): its result and
    //                      what is there: the blob it equals, "other", "device", "-"
    //   put BLOB [DIR]     StoreFile of the blob, written to home/BLOB
    //   list               the entries, "name" or "name/", "," between; "none"
    //   cwd|mkd|rmd PATH   the result (mkd: and the folded path)
    //   pwd, code, state   GetRootDir, LastReplyCode, connectionState
    //   uploaded           the blob the server received, "other" or "-"
    std::string Do(clsFTPConnection& ftp, FakeFtpServer& server, const std::string& ops);

    TempHome home;
    TestHost host;
};

// Every byte value, line ends and NULs among them: a transfer must not touch
// a single one.
std::string BinaryContent(std::size_t size);

// A server that greets and accepts alice's login, as the start of a script.
inline const std::string kLogin =
    "=220 fake server ready|USER alice=331 Password required for alice|pass pw=230 Logged in|";

// Wall time of a call, only ever compared with generous bounds that catch
// hangs, never with the client's exact waits.
template <typename F> long long MillisecondsTaken(F&& call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}
