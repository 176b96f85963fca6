#include "ftp/FtpTestSupport.h"
#include "platform/FileSystem.h"

#include <functional>

namespace {

// Each script succeeds when left alone; the server signals when the client
// is in the wait under test, and Ctrl-C (gAbort, set from the host's Yield)
// must end that wait with a failure and leave no local file behind.
struct AbortCase {
    const char* name;
    std::vector<FakeStep> script;
    std::function<bool(clsFTPConnection&, TempHome&)> run; // after the login
};

void PrintTo(const AbortCase& c, std::ostream* os) {
    *os << c.name;
}

constexpr int kLate = 800; // the server's pause inside the wait under test

const AbortCase kCases[] = {
    {"TheGreetingWait",
     {{"", {Signal(), Pause(kLate), Reply("220 late\r\n")}},
      {"USER alice", "331 Password"},
      {"pass pw", "230 in"}},
     [](clsFTPConnection& ftp, TempHome&) { return ftp.connectionState() == ftp.kLoggedIn; }},
    {"AReplyWait",
     LoginScript() +
         std::vector<FakeStep>{{"CWD /a", {Signal(), Pause(kLate), Reply("250 OK\r\n")}}},
     [](clsFTPConnection& ftp, TempHome&) { return ftp.ChangeCurrentDirectory("/a"); }},
    {"TheDataOfADownload",
     LoginScript() + std::vector<FakeStep>{{"PASV", {PassiveReply()}},
                                           {"TYPE I", "200 Binary"},
                                           {"RETR a.bin",
                                            {Reply("150 Opening\r\n"), Signal(),
                                             SendOnData({BinaryContent(5000), "rest"}, kLate),
                                             Reply("226 Done\r\n")}},
                                           {"TYPE A", "200 ASCII"}},
     [](clsFTPConnection& ftp, TempHome& home) {
         return ftp.GetFile("a.bin", home.File("got")) == clsFTPConnection::kGetFileDone;
     }},
    {"AnUploadTheServerDoesNotTake",
     LoginScript() + std::vector<FakeStep>{{"TYPE I", "200 Binary"},
                                           {"PASV", {PassiveReply()}},
                                           {"stor /big.bin",
                                            {Reply("150 Ok\r\n"), Signal(), Pause(kLate),
                                             ReceiveOnData(), Reply("226 Done\r\n")}},
                                           {"TYPE A", "200 ASCII"}},
     [](clsFTPConnection& ftp, TempHome& home) {
         home.Write("big.bin", BinaryContent(16 << 20));
         return ftp.StoreFile(home.File("big.bin"), "");
     }},
    {"TheDataOfAListing",
     LoginScript() + std::vector<FakeStep>{{"PASV", {PassiveReply()}},
                                           {"LIST",
                                            {Reply("150 Listing\r\n"), Signal(),
                                             SendOnData({"-rw-r--r-- 1 a b 1 Mar 1 12:00 a\r\n",
                                                         "-rw-r--r-- 1 a b 1 Mar 1 12:00 b\r\n"},
                                                        kLate),
                                             Reply("226 Done\r\n")}}},
     [](clsFTPConnection& ftp, TempHome&) { return ftp.GetFileList().has_value(); }},
};

class FtpAbort : public FtpTest, public ::testing::WithParamInterface<AbortCase> {};

} // namespace

TEST_P(FtpAbort, EndsTheWaitWithAFailure) {
    for (const bool abort : {false, true}) {
        SCOPED_TRACE(abort ? "with Ctrl-C" : "left alone");
        gAbort = false;
        RemoveFile(home.File("got"));
        host.progress.clear();
        FakeFtpServer server(GetParam().script);
        host.onYield = [&] { gAbort = gAbort || (abort && server.Signalled()); };
        clsFTPConnection ftp;
        ftp.SetupConnection("127.0.0.1", server.Port(), "alice", "pw", true);
        ftp.EstablishConnection();
        EXPECT_EQ(GetParam().run(ftp, home), !abort);
        EXPECT_EQ(FileExists(home.File("got")),
                  std::string(GetParam().name) == "TheDataOfADownload" && !abort);
        if (!host.progress.empty())
            EXPECT_EQ(host.progress.back(), "close");
        host.onYield = nullptr;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, FtpAbort, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });
