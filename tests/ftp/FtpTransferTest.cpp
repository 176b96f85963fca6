#include "ftp/FtpTestSupport.h"
#include "platform/FileSystem.h"

#include <sys/stat.h>

namespace {

class FtpTransfer : public FtpTest {
protected:
    // Every byte value, line ends and a NUL among them: a download must not
    // touch a single one.
    static std::string BinaryContent(std::size_t size) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
        return bytes;
    }
};

std::vector<std::string> LoginAnd(const std::vector<std::string>& commands) {
    std::vector<std::string> all = {"USER alice", "pass pw"};
    all.insert(all.end(), commands.begin(), commands.end());
    return all;
}

} // namespace

TEST_F(FtpTransfer, DownloadsWithTheExactCommandsToTheKnownHost) {
    const std::string content = BinaryContent(300000) + "\r\n";
    // The PASV reply names a private address; the data connection still goes
    // to the host we connected to.
    FakeFtpServer server(
        LoginScript() +
        std::vector<FakeStep>{{"PASV", {PassiveReply("10,0,0,1")}},
                              {"TYPE I", {Reply("200 Binary\r\n")}},
                              {"RETR report 1.txt",
                               {Reply("150 Opening data connection (300002 bytes)\r\n"),
                                SendOnData(content), Reply("226 Transfer complete\r\n")}},
                              {"TYPE A", {Reply("200 ASCII\r\n")}}});
    clsFTPConnection ftp;
    ASSERT_TRUE(LogIn(ftp, server));
    EXPECT_EQ(ftp.GetFile("report 1.txt", home.File("report 1.txt")), 1);
    EXPECT_EQ(home.Read("report 1.txt"), content);
    EXPECT_EQ(server.Commands(), LoginAnd({"PASV", "TYPE I", "RETR report 1.txt", "TYPE A"}));
    EXPECT_TRUE(Logged("Downloading file: report 1.txt"));
    EXPECT_TRUE(Logged("OK: File report 1.txt downloaded!"));
    ASSERT_GE(host.progress.size(), 3u);
    EXPECT_EQ(host.progress.front(), "show:Downloading file...");
    EXPECT_EQ(host.progress[1], "update:Downloading file...|report 1.txt|0.000000|0.000000");
    EXPECT_EQ(host.progress[host.progress.size() - 2],
              "update:Downloading from 127.0.0.1|report 1.txt|100.000000|100.000000");
    EXPECT_EQ(host.progress.back(), "close");
    EXPECT_TRUE(ftp.Answers.empty());
}

TEST_F(FtpTransfer, ADownloadThatPausesMidStreamStillArrivesWhole) {
    const std::string first = BinaryContent(70000);
    const std::string second = "and the rest";
    FakeFtpServer server(
        LoginScript() +
        std::vector<FakeStep>{{"PASV", {PassiveReply()}},
                              {"TYPE I", {Reply("200 Binary\r\n")}},
                              {"RETR slow.bin",
                               {Reply("150 Opening\r\n"), SendOnDataInParts({first, second}, 1500),
                                Reply("226 Transfer complete\r\n")}},
                              {"TYPE A", {Reply("200 ASCII\r\n")}}});
    clsFTPConnection ftp;
    ASSERT_TRUE(LogIn(ftp, server));
    EXPECT_EQ(ftp.GetFile("slow.bin", home.File("slow.bin")), 1);
    EXPECT_TRUE(home.Read("slow.bin") == first + second);
}

TEST_F(FtpTransfer, UploadsWithTheExactCommandsAndEveryByte) {
    const std::string content = BinaryContent(25001);
    home.Write("out/up load.bin", content);
    home.Write("out/empty.txt", "");
    FakeFtpServer server(LoginScript() +
                         std::vector<FakeStep>{{"TYPE I", {Reply("200 Binary\r\n")}},
                                               {"PASV", {PassiveReply()}},
                                               {"stor /in/up load.bin",
                                                {Reply("150 Ok to send data\r\n"), ReceiveOnData(),
                                                 Reply("226 Transfer complete\r\n")}},
                                               {"TYPE A", {Reply("200 ASCII\r\n")}},
                                               {"TYPE I", {Reply("200 Binary\r\n")}},
                                               {"PASV", {PassiveReply()}},
                                               {"stor /in/empty.txt",
                                                {Reply("150 Ok to send data\r\n"), ReceiveOnData(),
                                                 Reply("226 Transfer complete\r\n")}},
                                               {"TYPE A", {Reply("200 ASCII\r\n")}}});
    clsFTPConnection ftp;
    ASSERT_TRUE(LogIn(ftp, server));
    EXPECT_TRUE(ftp.StoreFile(home.File("out/up load.bin"), "/in"));
    EXPECT_EQ(server.Uploaded(), content);
    EXPECT_TRUE(ftp.StoreFile(home.File("out/empty.txt"), "/in"));
    EXPECT_EQ(server.Uploaded(), content);
    EXPECT_EQ(server.Commands(), LoginAnd({"TYPE I", "PASV", "stor /in/up load.bin", "TYPE A",
                                           "TYPE I", "PASV", "stor /in/empty.txt", "TYPE A"}));
    EXPECT_TRUE(Logged("Uploading file: " + home.File("out/up load.bin")));
    EXPECT_EQ(host.progress.back(), "close");
}

TEST_F(FtpTransfer, ADataConnectionDroppedMidDownloadFailsAndLeavesNoFile) {
    FakeFtpServer server(LoginScript() +
                         std::vector<FakeStep>{{"PASV", {PassiveReply()}},
                                               {"TYPE I", {Reply("200 Binary\r\n")}},
                                               {"RETR big.bin",
                                                {Reply("150 Opening (1000000 bytes)\r\n"),
                                                 DropDataAfter(BinaryContent(40000)),
                                                 Reply("426 Connection closed\r\n")}}});
    clsFTPConnection ftp;
    ASSERT_TRUE(LogIn(ftp, server));
    std::int16_t result = 1;
    EXPECT_LT(MillisecondsTaken([&] { result = ftp.GetFile("big.bin", home.File("big.bin")); }),
              30000);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(Logged("FAIL: Download of big.bin failed!"));
    EXPECT_FALSE(FileExists(home.File("big.bin")));
    ASSERT_FALSE(host.progress.empty());
    EXPECT_EQ(host.progress.back(), "close");
}

TEST_F(FtpTransfer, ADataConnectionDroppedMidUploadFailsTheUpload) {
    home.Write("big.bin", BinaryContent(8 << 20));
    FakeFtpServer server(
        LoginScript() +
        std::vector<FakeStep>{{"TYPE I", {Reply("200 Binary\r\n")}},
                              {"PASV", {PassiveReply()}},
                              {"stor /big.bin",
                               {Reply("150 Ok to send data\r\n"), DropDataAfterReceiving(30000),
                                Reply("426 Connection closed\r\n")}},
                              {"TYPE A", {Reply("200 ASCII\r\n")}}});
    clsFTPConnection ftp;
    ASSERT_TRUE(LogIn(ftp, server));
    bool stored = true;
    EXPECT_LT(MillisecondsTaken([&] { stored = ftp.StoreFile(home.File("big.bin"), ""); }), 30000);
    EXPECT_FALSE(stored);
    EXPECT_EQ(server.Commands(), LoginAnd({"TYPE I", "PASV", "stor /big.bin", "TYPE A"}));
}

TEST_F(FtpTransfer, APassiveReplyWithoutAUsablePortFailsTheDataConnection) {
    for (const std::string reply :
         {"227 Entering Passive Mode (127,0,0,1)", "227 Entering Passive Mode 127,0,0,1,4,1",
          "227 Entering Passive Mode (127,0,0,1,4)", "227 Entering Passive Mode (127,0,0,1,4,x)",
          "227 Entering Passive Mode (127,0,0,1,4,256)", "227 Entering Passive Mode ()"}) {
        SCOPED_TRACE(reply);
        host.activity.clear();
        FakeFtpServer server(
            LoginScript() + std::vector<FakeStep>{{"PASV", {Reply(reply + "\r\n")}}, {"LIST", {}}});
        clsFTPConnection ftp;
        ASSERT_TRUE(LogIn(ftp, server));
        EXPECT_FALSE(ftp.GetFileList().has_value());
        EXPECT_TRUE(Logged("Failed to create data connection!"));
        ftp.Disconnect();
        EXPECT_EQ(server.FinalCommands(), LoginAnd({"PASV", "LIST", "QUIT"}));
    }
}

TEST_F(FtpTransfer, ARefusedPassiveModeStopsBeforeTheTransferCommand) {
    home.Write("up.txt", "data");
    FakeFtpServer server(LoginScript() +
                         std::vector<FakeStep>{{"PASV", {Reply("500 PASV not understood\r\n")}},
                                               {"TYPE I", {Reply("200 Binary\r\n")}},
                                               {"PASV", {Reply("425 Cannot open port\r\n")}}});
    clsFTPConnection ftp;
    ASSERT_TRUE(LogIn(ftp, server));
    EXPECT_FALSE(ftp.GetFileList().has_value());
    EXPECT_FALSE(ftp.StoreFile(home.File("up.txt"), "/in"));
    EXPECT_EQ(Count("Failed to enter passive mode!"), 2);
    EXPECT_EQ(server.Commands(), LoginAnd({"PASV", "TYPE I", "PASV"}));
}

TEST_F(FtpTransfer, ADownloadTheServerRefusesFailsWithItsLogLine) {
    FakeFtpServer server(
        LoginScript() +
        std::vector<FakeStep>{{"PASV", {PassiveReply()}},
                              {"TYPE I", {Reply("200 Binary\r\n")}},
                              {"RETR missing.txt", {Reply("550 No such file\r\n")}}});
    clsFTPConnection ftp;
    ASSERT_TRUE(LogIn(ftp, server));
    EXPECT_EQ(ftp.GetFile("missing.txt", home.File("missing.txt")), 0);
    EXPECT_TRUE(Logged("FAIL: Download of missing.txt failed!"));
    EXPECT_FALSE(FileExists(home.File("missing.txt")));
}

TEST_F(FtpTransfer, AnExistingLocalFileIsReplacedOnlyWhenTheUserSaysYes) {
    const std::string local = home.File("index.fs");
    home.Write("index.fs", "the previous, longer local content");
    FakeFtpServer server(LoginScript() +
                         std::vector<FakeStep>{{"PASV", {PassiveReply()}},
                                               {"TYPE I", {Reply("200 Binary\r\n")}},
                                               {"RETR index.fs",
                                                {Reply("150 Opening\r\n"), SendOnData("new"),
                                                 Reply("226 Transfer complete\r\n")}},
                                               {"TYPE A", {Reply("200 ASCII\r\n")}}});
    clsFTPConnection ftp;
    ASSERT_TRUE(LogIn(ftp, server));

    host.answers = {MsgAnswer::No};
    EXPECT_EQ(ftp.GetFile("index.fs", local), 2);
    EXPECT_EQ(home.Read("index.fs"), "the previous, longer local content");
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text,
              "The file " + local + " already exists! Do you want to overwrite?");
    EXPECT_EQ(host.boxes[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(server.Commands(), LoginAnd({}));

    host.answers = {MsgAnswer::Yes};
    EXPECT_EQ(ftp.GetFile("index.fs", local), 1);
    EXPECT_EQ(home.Read("index.fs"), "new");
    EXPECT_EQ(host.boxes.size(), 2u);
}

TEST_F(FtpTransfer, ALocalWriteThatFailsGivesItsLogLineAndTouchesNothingElse) {
    struct stat before {};
    if (::stat("/dev/full", &before) != 0 || !S_ISCHR(before.st_mode))
        GTEST_SKIP() << "no /dev/full on this machine";
    FakeFtpServer server(
        LoginScript() +
        std::vector<FakeStep>{{"PASV", {PassiveReply()}},
                              {"TYPE I", {Reply("200 Binary\r\n")}},
                              {"RETR data.bin",
                               {Reply("150 Opening\r\n"), SendOnData(BinaryContent(5000)),
                                Reply("226 Transfer complete\r\n")}}});
    clsFTPConnection ftp;
    ASSERT_TRUE(LogIn(ftp, server));
    EXPECT_EQ(ftp.GetFile("data.bin", "/dev/full"), 0);
    EXPECT_TRUE(Logged("Error writing to file!"));
    struct stat after {};
    ASSERT_EQ(::stat("/dev/full", &after), 0);
    EXPECT_TRUE(S_ISCHR(after.st_mode));
}

TEST_F(FtpTransfer, AnAbortStopsTransfersAtOnceWithTheFailureValue) {
    home.Write("big.bin", BinaryContent(4 << 20));
    FakeFtpServer server(
        LoginScript() +
        std::vector<FakeStep>{
            {"TYPE I", {Reply("200 Binary\r\n")}},
            {"PASV", {PassiveReply()}},
            {"stor /in/big.bin", {Reply("150 Ok\r\n"), ReceiveOnData()}},
            {"PASV", {PassiveReply()}},
            {"TYPE I", {Reply("200 Binary\r\n")}},
            {"RETR big.bin", {Reply("150 Opening\r\n"), SendOnData(BinaryContent(1 << 20))}}});
    clsFTPConnection ftp;
    ASSERT_TRUE(LogIn(ftp, server));
    // The user presses cancel as soon as the progress window is up.
    host.onYield = [&] {
        if (!host.progress.empty())
            gAbort = true;
    };
    EXPECT_FALSE(ftp.StoreFile(home.File("big.bin"), "/in"));
    // Stopped after the first block: no progress past the start.
    const std::string path = home.File("big.bin");
    EXPECT_EQ(host.progress,
              (std::vector<std::string>{"show:Uploading file...",
                                        "update:Uploading file...|" + path + "|0.000000|0.000000",
                                        "close"}));
    host.progress.clear();
    gAbort = false;
    EXPECT_EQ(ftp.GetFile("big.bin", home.File("copy.bin")), 0);
    EXPECT_FALSE(FileExists(home.File("copy.bin")));
    EXPECT_EQ(host.progress, (std::vector<std::string>{
                                 "show:Downloading file...",
                                 "update:Downloading file...|big.bin|0.000000|0.000000", "close"}));
}

TEST_F(FtpTransfer, ListsNamesAfterTheEighthFieldAndMarksFolders) {
    std::string oldStyle = "-rw-r--r-- 1 owner group 12 Jan";
    oldStyle.resize(55, ' ');
    oldStyle += "old style.txt  ";
    const std::string listing =
        "total 12\r\n"
        "drwxr-xr-x   2 alice    staff        4096 Mar  1 12:00 photos\r\n"
        "-rw-r--r--   1 averylongownername somegroup 12345678901 Jan 10  2024 annual  "
        "report.pdf\r\n"
        "-rw-r--r--    1 65534      nogroup             6 Dec  5 16:44 up.txt\r\n" +
        oldStyle + "\r\n-rw-r--r-- 1 a b 1 Mar 1 12:00 cut-off";
    FakeFtpServer server(
        LoginScript() +
        std::vector<FakeStep>{{"PASV", {PassiveReply()}},
                              {"LIST",
                               {Reply("150 Here comes the listing\r\n"), SendOnData(listing),
                                Reply("226 Directory send OK\r\n")}}});
    clsFTPConnection ftp;
    ASSERT_TRUE(LogIn(ftp, server));
    const std::optional<std::vector<clsFTPFile>> files = ftp.GetFileList();
    ASSERT_TRUE(files.has_value());
    std::vector<std::pair<std::string, bool>> entries;
    for (const clsFTPFile& f : *files) {
        entries.emplace_back(f.strName, f.bDir);
        EXPECT_EQ(f.dSize, 0);
    }
    // The summary line is an entry too; the last line lacks its end and is
    // not trusted.
    EXPECT_EQ(entries, (std::vector<std::pair<std::string, bool>>{{"", false},
                                                                  {"photos", true},
                                                                  {"annual  report.pdf", false},
                                                                  {"up.txt", false},
                                                                  {"old style.txt", false}}));
    EXPECT_TRUE(Logged("REP: total 12"));
    EXPECT_EQ(server.Commands(), LoginAnd({"PASV", "LIST"}));
}

TEST_F(FtpTransfer, AListingThatPausesInsideALineLosesNoEntry) {
    FakeFtpServer server(
        LoginScript() + std::vector<FakeStep>{
                            {"PASV", {PassiveReply()}},
                            {"LIST",
                             {Reply("150 Here comes the listing\r\n"),
                              SendOnDataInParts({"drwxr-xr-x 2 a b 4096 Mar 1 12:00 pho",
                                                 "tos\r\n-rw-r--r-- 1 a b 5 Mar 1 12:00 a.txt\r\n"},
                                                600),
                              Reply("226 Directory send OK\r\n")}},
                            {"PASV", {PassiveReply()}},
                            {"LIST",
                             {Reply("150 Here comes the listing\r\n"), SendOnData(""),
                              Reply("226 Directory send OK\r\n")}}});
    clsFTPConnection ftp;
    ASSERT_TRUE(LogIn(ftp, server));
    const std::optional<std::vector<clsFTPFile>> files = ftp.GetFileList();
    ASSERT_TRUE(files.has_value());
    ASSERT_EQ(files->size(), 2u);
    EXPECT_EQ((*files)[0].strName, "photos");
    EXPECT_TRUE((*files)[0].bDir);
    EXPECT_EQ((*files)[1].strName, "a.txt");
    // An empty folder is an empty list, not a failure.
    const std::optional<std::vector<clsFTPFile>> empty = ftp.GetFileList();
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
}

TEST_F(FtpTransfer, FolderCommandsFoldDoubleSlashesAndNeedTheirCodes) {
    FakeFtpServer server(
        LoginScript() + std::vector<FakeStep>{{"CWD /a/b", {Reply("250 OK\r\n")}},
                                              {"MKD /a/new", {Reply("257 \"/a/new\" created\r\n")}},
                                              {"RMD /a/new", {Reply("250 Removed\r\n")}},
                                              {"RMD /a", {Reply("550 Not empty\r\n")}},
                                              {"CWD /missing", {Reply("550 No such\r\n")}}});
    clsFTPConnection ftp;
    ASSERT_TRUE(LogIn(ftp, server));
    std::string created = "/a//new";
    std::string full = "/a";
    EXPECT_TRUE(ftp.ChangeCurrentDirectory("/a//b"));
    EXPECT_TRUE(ftp.CreateFTPDirectory(created));
    EXPECT_EQ(created, "/a/new");
    EXPECT_TRUE(ftp.DeleteFTPDirectory(created));
    EXPECT_FALSE(ftp.DeleteFTPDirectory(full));
    EXPECT_FALSE(ftp.ChangeCurrentDirectory("/missing"));
    EXPECT_TRUE(ftp.Answers.empty());
    EXPECT_EQ(server.Commands(),
              LoginAnd({"CWD /a/b", "MKD /a/new", "RMD /a/new", "RMD /a", "CWD /missing"}));
}

TEST_F(FtpTransfer, ReadsTheLoginFolderFromTheQuotedPathOfPwd) {
    FakeFtpServer server(
        LoginScript() +
        std::vector<FakeStep>{{"PWD", {Reply("257 \"/home/alice\" is the current directory\r\n")}},
                              {"PWD", {Reply("257 \"/say \"\"hi\"\"\" is current\r\n")}},
                              {"PWD", {Reply("257 \"/no/closing/quote\r\n")}},
                              {"PWD", {Reply("550 Not allowed\r\n")}}});
    clsFTPConnection ftp;
    ASSERT_TRUE(LogIn(ftp, server));
    EXPECT_EQ(ftp.GetRootDir(), "/home/alice");
    EXPECT_EQ(ftp.GetRootDir(), "/say \"hi\"");
    EXPECT_EQ(ftp.GetRootDir(), "");
    EXPECT_EQ(ftp.GetRootDir(), "");
}

TEST_F(FtpTransfer, ATransferStartedWith125WorksLikeOneStartedWith150) {
    FakeFtpServer server(LoginScript() +
                         std::vector<FakeStep>{{"PASV", {PassiveReply()}},
                                               {"TYPE I", {Reply("200 Binary\r\n")}},
                                               {"RETR a.txt",
                                                {Reply("125 Data connection already open\r\n"),
                                                 SendOnData("alpha"), Reply("226 Done\r\n")}},
                                               {"TYPE A", {Reply("200 ASCII\r\n")}}});
    clsFTPConnection ftp;
    ASSERT_TRUE(LogIn(ftp, server));
    EXPECT_EQ(ftp.GetFile("a.txt", home.File("a.txt")), 1);
    EXPECT_EQ(home.Read("a.txt"), "alpha");
}
