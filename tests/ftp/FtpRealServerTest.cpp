#include "ftp/FtpTestSupport.h"

#include <unistd.h>

namespace {

class FtpRealServer : public FtpTest, public ::testing::WithParamInterface<ServerKind> {};
class FtpActiveMode : public FtpTest {};

} // namespace

INSTANTIATE_TEST_SUITE_P(Servers, FtpRealServer,
                         ::testing::Values(ServerKind::Pyftpdlib, ServerKind::PureFtpd),
                         [](const auto& info) {
                             return info.param == ServerKind::Pyftpdlib ? "Pyftpdlib" : "PureFtpd";
                         });

// Everything the program asks of a server, in one session against each.
TEST_P(FtpRealServer, WorksThroughAWholeSession) {
    TempHome served;
    served.Write("annual report.pdf", "pdf");
    // Eleven digits of size shift every later column of the listing.
    served.Write("sparse.img", "");
    ASSERT_EQ(::truncate(served.File("sparse.img").c_str(), 12345678901LL), 0);
    std::unique_ptr<ServerScript> server;
    START_SERVER(server, GetParam(), served.Path(), true);
    const Blobs blobs = {{"empty.bin", ""},
                         {"name with  blanks.txt", "a few words\r\nand lines\n"},
                         {"big.bin", BinaryContent(30 << 20)},
                         {"pdf", "pdf"}};
    clsFTPConnection wrong, ftp, anonymous;
    EXPECT_EQ(Do(wrong, server->Port(), blobs, "login alice not the password|state"), "0|3");
    const std::string in = "/new  folder/";
    std::string ops = "login alice s3cret pw|pwd|mkd //new  folder|mkd /new  folder|list";
    for (const char* verb : {"|put ", "|get "})
        for (const char* name : {"empty.bin", "name with  blanks.txt", "big.bin"})
            ops += verb + in + name;
    EXPECT_EQ(Do(ftp, server->Port(), blobs,
                 ops + "|get /missing.bin|code|cwd " + in + "|pwd|list|cwd /missing|rmd " + in),
              "1|/|1 /new  folder|0 /new  folder|annual report.pdf,new  folder/,sparse.img|1|1|1|1 "
              "empty.bin|1 name with  blanks.txt|1 big.bin|0 -|550|1|/new  folder|big.bin,"
              "empty.bin,name with  blanks.txt|0|0");
    for (const auto& [name, content] : blobs) {
        EXPECT_TRUE(name == "pdf" || served.Read("new  folder/" + name) == content) << name;
        ::unlink(served.File("new  folder/" + name).c_str());
    }
    // Emptied, the folder goes.
    EXPECT_EQ(Do(ftp, server->Port(), blobs,
                 "cwd /|rmd /new  folder|ren /missing>/x|code|ren //annual report.pdf>/kept "
                 "report.pdf|list|state"),
              "1|1|0|550|1|kept report.pdf,sparse.img|0");
    EXPECT_EQ(served.Read("kept report.pdf"), "pdf");
    if (GetParam() == ServerKind::Pyftpdlib) {
        EXPECT_EQ(Do(anonymous, server->Port(), blobs, "login -|get kept report.pdf"), "1|1 pdf");
    }
}

// The one test that uses the fixed local port 14135, so parallel test
// processes never compete for it. Whoever reaches the port before the
// server is turned away.
TEST_F(FtpActiveMode, ListsOnlyWhatTheServerItselfSends) {
    const std::string sub = "@send drwxr-xr-x 2 a b 4096 Mar 1 12:00 sub\r\n;@eof;226 Done";
    const std::string forged = "@send -r-- 1 a b 1 Mar 1 12:00 forged\r\n;@eof;";
    const std::string port = "PORT 127,0,0,1,55,55=";
    const std::string list = port + "200 PORT command successful|LIST=";
    for (const auto& [script, entries] : std::vector<std::pair<std::string, std::string>>{
             {list + "150 Go;@connect 127.0.0.2;" + forged + "@connect 127.0.0.1;" + sub, "sub/"},
             {list + "150 Go;@connect 127.0.0.2;" + sub, "none"},
             {list + "150 Go", "none"},
             {list + "550 No permission", "none"},
             {port + "500 Illegal PORT", "none"}}) {
        SCOPED_TRACE(script);
        host.activity.clear();
        FakeFtpServer server(kLogin + script);
        clsFTPConnection ftp;
        EXPECT_EQ(Do(ftp, server, "active|list"), "1|" + entries);
        EXPECT_EQ(Logged("Refused a data connection from 127.0.0.2: only the FTP server may "
                         "connect."),
                  script.find("127.0.0.2") != std::string::npos);
        ftp.Disconnect();
        EXPECT_EQ(server.Problems(), Strings{});
    }
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Port command failed!");
    EXPECT_EQ(host.boxes[0].icon, MsgIcon::Critical);

    TempHome served;
    served.Write("listed by port.txt", "x");
    served.Write("sub/x", "x");
    for (const ServerKind kind : {ServerKind::Pyftpdlib, ServerKind::PureFtpd}) {
        std::unique_ptr<ServerScript> server;
        START_SERVER(server, kind, served.Path());
        clsFTPConnection real;
        // The connection stays usable after the listing.
        EXPECT_EQ(Do(real, server->Port(), {}, "active alice s3cret pw|list|pwd"),
                  "1|listed by port.txt,sub/|/");
    }
}
