#include "ftp/FtpTestSupport.h"
#include "platform/FileSystem.h"

#include <functional>
#include <sys/stat.h>

namespace {

using Run = std::function<std::string(clsFTPConnection&, TempHome&, FakeFtpServer&)>;

struct TransferCase {
    const char* name;
    std::vector<FakeStep> script; // after the login
    Run run;                      // the client's part; its outcome as text
    std::string outcome;
    Strings commands; // after the login
    Strings logged;   // "!" first: must not be logged
};

void PrintTo(const TransferCase& c, std::ostream* os) {
    *os << c.name;
}

const std::string kContent = BinaryContent(300000) + "\r\n";

// GetFile's result, and what is at the local path afterwards.
Run Get(const std::string& remote, const std::string& expected = kContent) {
    return [remote, expected](clsFTPConnection& ftp, TempHome& home, FakeFtpServer&) {
        const std::string local = home.File("got");
        const int code = ftp.GetFile(remote, local);
        const std::string state = !FileExists(local)             ? "no file"
                                  : home.Read("got") == expected ? "whole"
                                                                 : "wrong";
        return std::to_string(code) + " " + state + " " + std::to_string(ftp.LastReplyCode());
    };
}

// The listing as "name" or "name/" for folders, ";" between, or "none".
Run List() {
    return [](clsFTPConnection& ftp, TempHome&, FakeFtpServer&) {
        const std::optional<std::vector<clsFTPFile>> files = ftp.GetFileList();
        if (!files)
            return std::string("none");
        std::string text;
        for (std::size_t i = 0; i < files->size(); ++i)
            text += (i > 0 ? ";" : "") + (*files)[i].strName + ((*files)[i].bDir ? "/" : "");
        return text;
    };
}

FakeStep Retr(const std::string& name, std::vector<FakeAction> actions) {
    return {"RETR " + name, std::move(actions)};
}

std::vector<FakeStep> Download(const std::string& name, std::vector<FakeAction> actions,
                               bool succeeds = true) {
    std::vector<FakeStep> steps = {
        {"PASV", {PassiveReply()}}, {"TYPE I", "200 Binary"}, Retr(name, std::move(actions))};
    if (succeeds)
        steps.push_back({"TYPE A", "200 ASCII"});
    return steps;
}

std::vector<FakeStep> Listing(std::vector<FakeAction> actions) {
    return {{"PASV", {PassiveReply()}}, {"LIST", std::move(actions)}};
}

std::string OldStyleLine() {
    std::string line = "-rw-r--r-- 1 owner group 12 Jan";
    line.resize(55, ' ');
    return line + "old style.txt  ";
}

const Strings kGet = {"PASV", "TYPE I", "RETR a.bin", "TYPE A"};

const TransferCase kCases[] = {
    {"ADownloadThatPausesMidStreamArrivesWhole",
     Download("a.bin", {Reply("150 Opening\r\n"),
                        SendOnData({kContent.substr(0, 70000), kContent.substr(70000)}, 1500),
                        Reply("226 Transfer complete\r\n")}),
     Get("a.bin"),
     "1 whole 200",
     kGet,
     {}},
    {"ATransferStartedWith125WorksLikeOneStartedWith150",
     Download("a.bin", {Reply("125 Data connection already open\r\n"), SendOnData({kContent}),
                        Reply("226 Done\r\n")}),
     Get("a.bin"),
     "1 whole 200",
     kGet,
     {}},
    {"A226ThatOvertakesTheDataWaitsForAllOfIt",
     Download("a.bin", {Reply("150 Opening\r\n226 Done\r\n"), SendOnData({kContent}, 300)}),
     Get("a.bin"),
     "1 whole 200",
     kGet,
     {}},
    {"ADataConnectionDroppedMidDownloadFailsAndLeavesNoFile",
     Download("a.bin",
              {Reply("150 Opening (1000000 bytes)\r\n"), DropDataAfter(BinaryContent(40000)),
               Reply("426 Connection closed\r\n")},
              false),
     Get("a.bin"),
     "0 no file 426",
     {"PASV", "TYPE I", "RETR a.bin"},
     {"FAIL: Download of a.bin failed!"}},
    {"ARefusedDownloadFailsAtOnceWithTheServersCode",
     Download("a.bin", {Reply("550 No such file\r\n"), Pause(300), Reply("150 Opening\r\n")},
              false),
     Get("a.bin"),
     "0 no file 550",
     {"PASV", "TYPE I", "RETR a.bin"},
     {"FAIL: Download of a.bin failed!"}},
    // The closed port fails every connect; the refusal, not the end of the
    // connect window, ends the attempts.
    {"ARefusalEndsTheAttemptsToReachAClosedDataPort",
     {{"PASV", {PassiveReply(), ClosePassivePort()}},
      {"TYPE I", "200 Binary"},
      Retr("a.bin", {Pause(200), Reply("550 No such file\r\n")})},
     Get("a.bin"),
     "0 no file 550",
     {"PASV", "TYPE I", "RETR a.bin"},
     {"FAIL: Download of a.bin failed!", "!Failed to create data connection!"}},
    {"ALocalWriteThatFailsGivesItsLogLineAndLeavesTheDeviceAlone",
     Download("a.bin",
              {Reply("150 Opening\r\n"), SendOnData({BinaryContent(5000)}),
               Reply("226 Transfer complete\r\n")},
              false),
     [](clsFTPConnection& ftp, TempHome&, FakeFtpServer&) {
         struct stat st {};
         const int code = ftp.GetFile("a.bin", "/dev/full");
         return std::to_string(code) +
                (::stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode) ? " device" : " gone");
     },
     "0 device",
     {"PASV", "TYPE I", "RETR a.bin"},
     {"Error writing to file!"}},
    {"UploadsEveryByteAndEmptyFiles",
     {{"TYPE I", "200 Binary"},
      {"PASV", {PassiveReply()}},
      {"stor /in/up load.bin",
       {Reply("150 Ok to send data\r\n"), ReceiveOnData(), Reply("226 Transfer complete\r\n")}},
      {"TYPE A", "200 ASCII"},
      {"TYPE I", "200 Binary"},
      {"PASV", {PassiveReply()}},
      {"stor /in/empty.txt",
       {Reply("150 Ok to send data\r\n"), ReceiveOnData(), Reply("226 Transfer complete\r\n")}},
      {"TYPE A", "200 ASCII"}},
     [](clsFTPConnection& ftp, TempHome& home, FakeFtpServer& server) {
         home.Write("out/up load.bin", kContent);
         home.Write("out/empty.txt", "");
         const bool a = ftp.StoreFile(home.File("out/up load.bin"), "/in");
         const bool b = ftp.StoreFile(home.File("out/empty.txt"), "/in");
         return std::to_string(a) + std::to_string(b) +
                (server.Uploaded() == kContent ? " whole" : " wrong");
     },
     "11 whole",
     {"TYPE I", "PASV", "stor /in/up load.bin", "TYPE A", "TYPE I", "PASV", "stor /in/empty.txt",
      "TYPE A"},
     {"CMD: stor /in/up load.bin"}},
    {"ADataConnectionDroppedMidUploadFailsTheUpload",
     {{"TYPE I", "200 Binary"},
      {"PASV", {PassiveReply()}},
      {"stor /big.bin", {Reply("150 Ok\r\n"), ReceiveOnData(30000), Reply("426 Closed\r\n")}},
      {"TYPE A", "200 ASCII"}},
     [](clsFTPConnection& ftp, TempHome& home, FakeFtpServer&) {
         home.Write("big.bin", BinaryContent(8 << 20));
         return std::to_string(ftp.StoreFile(home.File("big.bin"), ""));
     },
     "0",
     {"TYPE I", "PASV", "stor /big.bin", "TYPE A"},
     {}},
    {"ARefusedPassiveModeStopsBeforeTheTransferCommand",
     {{"PASV", "500 PASV not understood"}, {"TYPE I", "200 Binary"}, {"PASV", "425 No port"}},
     [](clsFTPConnection& ftp, TempHome& home, FakeFtpServer& server) {
         home.Write("up.txt", "data");
         const std::string listed = List()(ftp, home, server);
         return listed + " " + std::to_string(ftp.StoreFile(home.File("up.txt"), "/in"));
     },
     "none 0",
     {"PASV", "TYPE I", "PASV"},
     {"Failed to enter passive mode!"}},
    {"ListsNamesAfterTheEighthFieldAndMarksFolders",
     Listing({Reply("150 Here comes the listing\r\n"),
              SendOnData(
                  {"total 12\r\n"
                   "drwxr-xr-x   2 alice    staff        4096 Mar  1 12:00 photos\r\n"
                   "-rw-r--r--   1 averylongownername somegroup 12345678901 Jan 10  2024 "
                   "annual  report.pdf\r\n"
                   "-rw-r--r--    1 65534      nogroup             6 Dec  5 16:44 up\x1b.txt\r\n" +
                   OldStyleLine() + "\r\n-rw-r--r-- 1 a b 1 Mar 1 12:00 cut-off"}),
              Reply("226 Directory send OK\r\n")}),
     // The summary line is an entry too; the last line lacks its end and is
     // not trusted.
     List(),
     ";photos/;annual  report.pdf;up\x1b.txt;old style.txt",
     {"PASV", "LIST"},
     {"REP: total 12", "-rw-r--r--    1 65534      nogroup             6 Dec  5 16:44 up?.txt"}},
    {"AListingThatPausesInsideALineLosesNoEntry",
     Listing({Reply("150 Listing\r\n"),
              SendOnData({"drwxr-xr-x 2 a b 4096 Mar 1 12:00 pho",
                          "tos\r\n-rw-r--r-- 1 a b 5 Mar 1 12:00 a.txt\r\n"},
                         600),
              Reply("226 Directory send OK\r\n")}),
     List(),
     "photos/;a.txt",
     {"PASV", "LIST"},
     {}},
    {"AnEmptyFolderIsAnEmptyList",
     Listing({Reply("150 Listing\r\n"), SendOnData({""}), Reply("226 Done\r\n")}),
     List(),
     "",
     {"PASV", "LIST"},
     {}},
    {"AListingWithout226IsNoListing",
     Listing({Reply("150 Listing\r\n"), SendOnData({"-rw-r--r-- 1 a b 5 Mar 1 12:00 a.txt\r\n"}),
              Reply("451 Local error\r\n")}),
     List(),
     "none",
     {"PASV", "LIST"},
     {}},
    {"ARefusedListingIsNoListing",
     Listing({Reply("550 Permission denied\r\n")}),
     List(),
     "none",
     {"PASV", "LIST"},
     {}},
    {"FolderCommandsFoldDoubleSlashesAndNeedTheirCodes",
     // The stray 226 after the first reply must not answer the MKD.
     {{"CWD /a/b", "250 OK\r\n226 Stray"},
      {"MKD /a/new", "257 \"/a/new\" created"},
      {"RMD /a/new", "250 Removed"},
      {"RMD /a", "550 Not empty"},
      {"CWD /missing", "550 No such"}},
     [](clsFTPConnection& ftp, TempHome&, FakeFtpServer&) {
         std::string created = "/a//new";
         std::string full = "/a";
         std::string text = std::to_string(ftp.ChangeCurrentDirectory("/a//b"));
         text += std::to_string(ftp.CreateFTPDirectory(created)) + created;
         text += std::to_string(ftp.DeleteFTPDirectory(created));
         text += std::to_string(ftp.DeleteFTPDirectory(full));
         return text + std::to_string(ftp.ChangeCurrentDirectory("/missing"));
     },
     "11/a/new100",
     {"CWD /a/b", "MKD /a/new", "RMD /a/new", "RMD /a", "CWD /missing"},
     {}},
    // Any final reply ends the wait: the code that follows comes too late.
    {"ARefusedChangeOfFolderFailsAtOnce",
     {{"CWD /missing", {Reply("550 No such folder\r\n"), Pause(300), Reply("250 OK\r\n")}}},
     [](clsFTPConnection& ftp, TempHome&, FakeFtpServer&) {
         return std::to_string(ftp.ChangeCurrentDirectory("/missing"));
     },
     "0",
     {"CWD /missing"},
     {}},
    {"ARefusedNewFolderFailsAtOnce",
     {{"MKD /x", {Reply("550 Exists\r\n"), Pause(300), Reply("257 \"/x\" created\r\n")}}},
     [](clsFTPConnection& ftp, TempHome&, FakeFtpServer&) {
         std::string path = "/x";
         return std::to_string(ftp.CreateFTPDirectory(path));
     },
     "0",
     {"MKD /x"},
     {}},
    {"ReadsTheLoginFolderFromTheQuotedPathOfPwd",
     {{"PWD", "257 \"/home/alice\" is the current directory"},
      {"PWD", "257 \"/say \"\"hi\"\"\" is current"},
      {"PWD", "257 \"/no/closing/quote"},
      {"PWD", "550 Not allowed"}},
     [](clsFTPConnection& ftp, TempHome&, FakeFtpServer&) {
         std::string text;
         for (int i = 0; i < 4; ++i)
             text += ftp.GetRootDir() + "|";
         return text;
     },
     "/home/alice|/say \"hi\"|||",
     {"PWD", "PWD", "PWD", "PWD"},
     {}},
};

class FtpTransfer : public FtpTest, public ::testing::WithParamInterface<TransferCase> {};
class FtpDownload : public FtpTest {};

} // namespace

TEST_P(FtpTransfer, Transcript) {
    const TransferCase& c = GetParam();
    FakeFtpServer server(LoginScript() + c.script);
    clsFTPConnection ftp;
    ASSERT_TRUE(LogIn(ftp, server));
    EXPECT_EQ(c.run(ftp, home, server), c.outcome);
    EXPECT_TRUE(ftp.Answers.empty());
    ftp.Disconnect();
    Strings commands = LoginAnd(c.commands);
    commands.push_back("QUIT");
    EXPECT_EQ(server.FinalCommands(), commands);
    for (const std::string& line : c.logged)
        EXPECT_EQ(Logged(line.substr(line[0] == '!')), line[0] != '!') << line;
    if (!host.progress.empty())
        EXPECT_EQ(host.progress.back(), "close");
}

INSTANTIATE_TEST_SUITE_P(Cases, FtpTransfer, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FtpDownload, DownloadsWithTheExactCommandsToTheKnownHostShowingProgress) {
    // The PASV reply names a private address; the data connection still goes
    // to the host we connected to.
    FakeFtpServer server(
        LoginScript() +
        std::vector<FakeStep>{
            {"PASV", {PassiveReply("10,0,0,1")}},
            {"TYPE I", "200 Binary"},
            Retr("report 1.txt", {Reply("150 Opening (300002 bytes)\r\n"), SendOnData({kContent}),
                                  Reply("226 Transfer complete\r\n")}),
            {"TYPE A", "200 ASCII"}});
    clsFTPConnection ftp;
    ASSERT_TRUE(LogIn(ftp, server));
    EXPECT_EQ(ftp.GetFile("report 1.txt", home.File("report 1.txt")), 1);
    EXPECT_TRUE(home.Read("report 1.txt") == kContent);
    EXPECT_EQ(server.Commands(), LoginAnd({"PASV", "TYPE I", "RETR report 1.txt", "TYPE A"}));
    EXPECT_TRUE(Logged("Downloading file: report 1.txt"));
    EXPECT_TRUE(Logged("OK: File report 1.txt downloaded!"));
    ASSERT_GE(host.progress.size(), 3u);
    EXPECT_EQ(host.progress.front(), "show:Downloading file...");
    EXPECT_EQ(host.progress[1], "update:Downloading file...|report 1.txt|0.000000|0.000000");
    EXPECT_EQ(host.progress[host.progress.size() - 2],
              "update:Downloading from 127.0.0.1|report 1.txt|100.000000|100.000000");
    EXPECT_EQ(host.progress.back(), "close");
}

TEST_F(FtpDownload, AnExistingLocalFileIsReplacedOnlyWhenTheUserSaysYes) {
    const std::string local = home.File("index.fs");
    home.Write("index.fs", "the previous, longer local content");
    FakeFtpServer server(LoginScript() +
                         Download("index.fs", {Reply("150 Opening\r\n"), SendOnData({"new"}),
                                               Reply("226 Complete\r\n")}));
    clsFTPConnection ftp;
    ASSERT_TRUE(LogIn(ftp, server));
    host.answers = {MsgAnswer::No};
    EXPECT_EQ(ftp.GetFile("index.fs", local), clsFTPConnection::kGetFileDeclined);
    EXPECT_EQ(home.Read("index.fs"), "the previous, longer local content");
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text,
              "The file " + local + " already exists! Do you want to overwrite?");
    EXPECT_EQ(host.boxes[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(server.Commands(), LoginAnd({}));

    host.answers = {MsgAnswer::Yes};
    EXPECT_EQ(ftp.GetFile("index.fs", local), clsFTPConnection::kGetFileDone);
    EXPECT_EQ(home.Read("index.fs"), "new");
    EXPECT_EQ(host.boxes.size(), 2u);
}

TEST_F(FtpDownload, APassiveReplyWithoutAUsablePortFailsTheDataConnection) {
    for (const std::string port : {"(127,0,0,1)", "127,0,0,1,4,1", "(127,0,0,1,4)",
                                   "(127,0,0,1,4,x)", "(127,0,0,1,4,256)", "()"}) {
        SCOPED_TRACE(port);
        host.activity.clear();
        const std::string reply = "227 Entering Passive Mode " + port;
        FakeFtpServer server(LoginScript() + std::vector<FakeStep>{{"PASV", reply.c_str()}});
        clsFTPConnection ftp;
        ASSERT_TRUE(LogIn(ftp, server));
        EXPECT_FALSE(ftp.GetFileList().has_value());
        EXPECT_TRUE(Logged("Failed to create data connection!"));
        ftp.Disconnect();
        EXPECT_EQ(server.FinalCommands(), LoginAnd({"PASV", "LIST", "QUIT"}));
    }
}
