#include "ftp/FtpTestSupport.h"

#include "core/Globals.h"

#include <unistd.h>

namespace {

// Each script succeeds when left alone. The server signals once the client
// is in the wait under test; Ctrl-C (gAbort, set from the host's Yield) must
// then end that wait with a failure and leave no local file behind.
struct AbortCase {
    const char* name;
    std::string script;
    std::string ops, alone, aborted;
};

void PrintTo(const AbortCase& c, std::ostream* os) {
    *os << c.name;
}

const std::string kLine = "@send -rw-r--r-- 1 a b 1 Mar 1 12:00 a\r\n";

const AbortCase kCases[] = {
    {"TheGreetingWait", "=@signal;@pause 800;220 late|USER alice=331 Password|pass pw=230 in",
     "login|state", "1|0", "0|1"},
    {"AReplyWait", kLogin + "CWD /a=@signal;@pause 800;250 OK", "login|cwd /a", "1|1", "1|0"},
    {"TheDataOfADownload",
     kLogin + "PASV=@pasv|TYPE I=200 Binary|RETR a=150 Go;@signal;@accept;" + kLine +
         ";@pause 800;" + kLine + ";@eof;226 Done|TYPE A=200 A",
     "login|get a", "1|1 other", "1|0 -"},
    {"AnUploadTheServerDoesNotTake",
     kLogin + "TYPE I=200 Binary|PASV=@pasv|stor /big=150 Ok;@signal;@pause 800;@accept;@recv;"
              "@eof;226 Done|TYPE A=200 A",
     "login|put /big", "1|1", "1|0"},
    {"TheDataOfAListing",
     kLogin + "PASV=@pasv|LIST=150 Go;@signal;@accept;" + kLine + ";@pause 800;" + kLine +
         ";@eof;226 Done",
     "login|list", "1|a,a", "1|none"},
};

class FtpAbort : public FtpTest, public ::testing::WithParamInterface<AbortCase> {};

} // namespace

TEST_P(FtpAbort, EndsTheWaitWithAFailure) {
    for (const bool abort : {false, true}) {
        SCOPED_TRACE(abort ? "with Ctrl-C" : "left alone");
        gAbort = false;
        ::unlink(home.File("got").c_str());
        FakeFtpServer server(GetParam().script, {{"big", std::string(16 << 20, 'x')}});
        host.onYield = [&] { gAbort = gAbort || (abort && server.Signalled()); };
        clsFTPConnection ftp;
        EXPECT_EQ(Do(ftp, server, GetParam().ops), abort ? GetParam().aborted : GetParam().alone);
        EXPECT_TRUE(host.progress.empty() || host.progress.back() == "close");
        host.onYield = nullptr;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, FtpAbort, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });
