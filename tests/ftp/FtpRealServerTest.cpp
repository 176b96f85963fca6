#include "ftp/FtpServers.h"
#include "ftp/FtpTestSupport.h"
#include "platform/FileSystem.h"

#include <random>
#include <set>
#include <unistd.h>

namespace {

std::string RandomBytes(std::size_t size) {
    std::mt19937_64 random(size);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() & 0xFF);
    return bytes;
}

using Entries = std::set<std::pair<std::string, bool>>;

Entries EntriesOf(clsFTPConnection& ftp) {
    Entries entries;
    const std::optional<std::vector<clsFTPFile>> files = ftp.GetFileList();
    EXPECT_TRUE(files.has_value());
    for (const clsFTPFile& f : files.value_or(std::vector<clsFTPFile>{}))
        entries.insert({f.strName, f.bDir});
    return entries;
}

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
    std::unique_ptr<FtpServerProcess> server;
    START_SERVER(server, GetParam(), {served.Path(), "alice", "s3cret pw", true});

    clsFTPConnection wrong;
    wrong.SetupConnection("127.0.0.1", server->Port(), "alice", "not the password", true);
    EXPECT_FALSE(wrong.EstablishConnection());
    clsFTPConnection ftp;
    ftp.SetupConnection("127.0.0.1", server->Port(), "alice", "s3cret pw", true);
    ASSERT_TRUE(ftp.EstablishConnection());
    EXPECT_EQ(ftp.GetRootDir(), "/");

    std::string folder = "//new  folder";
    ASSERT_TRUE(ftp.CreateFTPDirectory(folder));
    EXPECT_EQ(folder, "/new  folder");
    std::string again = folder;
    EXPECT_FALSE(ftp.CreateFTPDirectory(again));
    EXPECT_EQ(
        EntriesOf(ftp),
        (Entries{{"annual report.pdf", false}, {"new  folder", true}, {"sparse.img", false}}));

    const std::vector<std::pair<std::string, std::string>> files = {
        {"empty.bin", ""},
        {"name with  blanks.txt", "a few words\r\nand lines\n"},
        {"big.bin", RandomBytes(30 << 20)}};
    for (const auto& [name, content] : files) {
        SCOPED_TRACE(name);
        home.Write("out/" + name, content);
        ASSERT_TRUE(ftp.StoreFile(home.File("out/" + name), folder));
        EXPECT_TRUE(served.Read("new  folder/" + name) == content);
        EXPECT_EQ(ftp.GetFile(folder + "/" + name, home.File("in " + name)), 1);
        EXPECT_TRUE(home.Read("in " + name) == content);
    }
    EXPECT_EQ(ftp.GetFile("/missing.bin", home.File("missing")), 0);
    EXPECT_EQ(ftp.LastReplyCode(), 550);
    EXPECT_FALSE(FileExists(home.File("missing")));

    ASSERT_TRUE(ftp.ChangeCurrentDirectory(folder));
    EXPECT_EQ(ftp.GetRootDir(), "/new  folder");
    EXPECT_EQ(
        EntriesOf(ftp),
        (Entries{{"big.bin", false}, {"empty.bin", false}, {"name with  blanks.txt", false}}));
    EXPECT_FALSE(ftp.ChangeCurrentDirectory("/missing"));
    // A folder that is not empty stays.
    EXPECT_FALSE(ftp.DeleteFTPDirectory(folder));
    for (const auto& file : files)
        ASSERT_TRUE(RemoveFile(served.File("new  folder/" + file.first)));
    ASSERT_TRUE(ftp.ChangeCurrentDirectory("/"));
    EXPECT_TRUE(ftp.DeleteFTPDirectory(folder));
    EXPECT_FALSE(FolderExists(served.File("new  folder")));
    EXPECT_TRUE(ftp.Disconnect());

    if (GetParam() == ServerKind::Pyftpdlib) {
        clsFTPConnection anonymous;
        anonymous.SetupConnection("127.0.0.1", server->Port(), "", "", true);
        ASSERT_TRUE(anonymous.EstablishConnection());
        EXPECT_EQ(anonymous.GetFile("annual report.pdf", home.File("public.pdf")), 1);
        EXPECT_EQ(home.Read("public.pdf"), "pdf");
    }
}

// The one test that uses the fixed local port 14135, so parallel test
// processes never compete for it.
TEST_F(FtpActiveMode, ListsOnlyWhatTheServerItselfSends) {
    const std::string sub = "drwxr-xr-x 2 a b 4096 Mar 1 12:00 sub\r\n";
    const struct {
        std::string script; // the server's part after LIST
        std::string entries;
    } cases[] = {
        // Whoever reaches the port before the server is turned away.
        {"150 Go;@connect 127.0.0.2;@send -r-- 1 a b 1 Mar 1 12:00 forged\r\n;@eof;@connect "
         "127.0.0.1;@send " +
             sub + ";@eof;226 Done",
         "sub/"},
        {"150 Go;@connect 127.0.0.2;@send " + sub + ";@eof;226 Done", "none"},
        {"150 Go", "none"},
        {"550 No permission", "none"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        host.activity.clear();
        FakeFtpServer server(kLogin +
                             "PORT 127,0,0,1,55,55=200 PORT command successful|LIST=" + c.script);
        clsFTPConnection ftp;
        EXPECT_EQ(Do(ftp, server, "active|list"), "1|" + c.entries);
        EXPECT_EQ(
            Logged("Refused a data connection from 127.0.0.2: only the FTP server may connect."),
            c.script.find("127.0.0.2") != std::string::npos);
        ftp.Disconnect();
        EXPECT_EQ(server.Problems(), Strings{});
    }
    FakeFtpServer refusing(kLogin + "PORT 127,0,0,1,55,55=500 Illegal PORT");
    clsFTPConnection ftp;
    EXPECT_EQ(Do(ftp, refusing, "active|list"), "1|none");
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Port command failed!");
    EXPECT_EQ(host.boxes[0].icon, MsgIcon::Critical);
    for (const ServerKind kind : {ServerKind::Pyftpdlib, ServerKind::PureFtpd}) {
        TempHome served;
        served.Write("listed by port.txt", "x");
        CreateFolderPath(served.File("sub"));
        std::string why;
        const auto server = FtpServerProcess::Start(kind, {served.Path()}, why);
        if (server == nullptr) {
            EXPECT_TRUE(why.rfind("MISSING", 0) == 0 && std::getenv("CI") == nullptr) << why;
            continue;
        }
        clsFTPConnection ftp;
        ftp.SetupConnection("127.0.0.1", server->Port(), "alice", "s3cret pw", false);
        ASSERT_TRUE(ftp.EstablishConnection());
        EXPECT_EQ(EntriesOf(ftp), (Entries{{"listed by port.txt", false}, {"sub", true}}));
        // The connection stays usable after the listing.
        EXPECT_EQ(ftp.GetRootDir(), "/");
    }
}
