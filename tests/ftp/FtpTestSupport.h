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
    //   login|active [USER PASSWORD]  EstablishConnection, passive or active,
    //                      as USER (default alice, password pw; "-" anonymous)
    //   get NAME[>PATH]    GetFile into PATH (default home/got): its result and
    //                      what is there: the blob it equals, "other", "device", "-"
    //   local BLOB         writes the blob to home/got; no outcome
    //   put DIR/BLOB       StoreFile of the blob (written to home/BLOB) into DIR
    //   list               the entries, sorted, "name" or "name/", ","; or "none"
    //   cwd|mkd|rmd PATH   the result (mkd: and the folded path)
    //   ren FROM>TO        Rename: its result
    //   pwd, code, state   GetRootDir, LastReplyCode, connectionState
    //   uploaded           the blob the fake server received, "other" or "-"
    std::string Do(clsFTPConnection& ftp, int port, const Blobs& blobs, const std::string& ops,
                   FakeFtpServer* fake = nullptr);
    std::string Do(clsFTPConnection& ftp, FakeFtpServer& fake, const std::string& ops) {
        return Do(ftp, fake.Port(), fake.Blobs(), ops, &fake);
    }

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
    const auto taken = std::chrono::steady_clock::now() - start;
    return std::chrono::duration_cast<std::chrono::milliseconds>(taken).count();
}
