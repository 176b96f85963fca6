#pragma once
#include "ftp/FtpServers.h"
#include "ftp/clsFTPConnection.h"
#include "support/TempHome.h"
#include "support/TestHost.h"

#include <chrono>
#include <gtest/gtest.h>

// A fresh program folder (for the activity log), the English catalogue and
// a recording host.
class FtpTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The activity lines without their time stamps.
    Strings Log() const;
    long Count(const std::string& line) const;
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
