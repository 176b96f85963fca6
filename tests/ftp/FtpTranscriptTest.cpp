#include "core/Globals.h"
#include "ftp/FtpServers.h"

#include <cctype>
#include <unistd.h>

namespace {

// The script is the exact transcript the client must follow; the outcomes
// and log lines are what the user would see. Where `aborted` is given, the
// script is played again with Ctrl-C (gAbort, set from the host's Yield)
// once the server reaches @signal: the wait must end with a failure and
// leave no local file behind.
struct Case {
    const char* name;
    std::string script;
    std::string ops; // see FtpTest::Do
    std::string outcome;
    std::string logged; // lines, "|" between; "N*" first: logged exactly N times
    std::string aborted = "";
};

const std::string kContent = BinaryContent(300000) + "\r\n";
const std::map<std::string, std::string> kBlobs = {
    {"content", kContent},
    {"head", kContent.substr(0, 70000)},
    {"tail", kContent.substr(70000)},
    {"empty", ""},
    {"big", BinaryContent(16 << 20)}, // more than the socket buffers hold
    {"listing", "total 12\r\n"
                "drwxr-xr-x   2 alice    staff        4096 Mar  1 12:00 photos\r\n"
                "-rw-r--r--   1 averylongownername somegroup 12345678901 Jan 10  2024 annual  "
                "report.pdf\r\n"
                "-rw-r--r--    1 65534      nogroup             6 Dec  5 16:44 up\x1b.txt\r\n"
                "-rw-r--r-- 1 owner group 12 Jan                        old style.txt  \r\n"
                "-rw-r--r-- 1 a b 1 Mar 1 12:00 cut-off"}};

const std::string kNoGreeting = "Couldn't read servers welcome message!";
const std::string kRetr = kLogin + "PASV=@pasv|TYPE I=200 Binary|RETR a.bin=";
const std::string kStor = "TYPE I=200 Binary|PASV=@pasv|";
const std::string kList = kLogin + "PASV=@pasv|LIST=";
const std::string kLine = "@send -rw-r--r-- 1 a b 1 Mar 1 12:00 a\r\n";

const Case kCases[] = {
    {"LogsInWithTheExactCommandsAndThePasswordMasked", kLogin, "login|state", "1|0",
     "CMD: USER alice|CMD: PASS **|>...Login,331,3|>...Login,230,3|0*" + kNoGreeting},
    {"MultiLineRepliesInOneBurst",
     "=220-Welcome\r\n220-to the fake\r\n220 Ready|USER alice=331-Password\r\n331 required|"
     "pass pw=230-Hello\r\n230 Logged in",
     "login", "1", "REP: 220-Welcome|220-to the fake|220 Ready|0*" + kNoGreeting},
    {"PreliminaryRepliesPassAndControlCharactersAreNeutralised",
     "=120 Ready in a moment;220 hi\x1b[31mred\x07|USER alice=331 Password|pass pw=230 in", "login",
     "1", "REP: 120 Ready in a moment|REP: 220 hi?[31mred?"},
    // The 230 that follows must not count: the 530 ended the wait.
    {"ARefusedPasswordFailsAtOnce",
     "=220 hi|USER alice=331 Password|pass pw=530 Login incorrect.;@pause 300;230 in",
     "login|state|code", "0|3|530", ">...Login,0,3"},
    {"AnEmptyUserNameLogsInAsAnonymous",
     "=220 hi|USER anonymous=331 Send e-mail|pass tidevault@example.com=230 Welcome", "login -",
     "1", ""},
    {"AServerThatSkipsThePasswordIsNotTakenAsLoggedIn",
     "=220 hi|USER anonymous=230 Anonymous logged in", "login -|state", "0|3", ">...Login,0,3"},
    {"ARefusedGreetingIsNotAskedForAgain", "=421 Too many connections|USER alice=530 Not now",
     "login|state", "0|3", "1*" + kNoGreeting + "|REP: 421 Too many connections"},
    {"AServerThatHangsUpAfterTheGreetingFailsTheLogin", "=220 hi|USER alice=@close", "login|state",
     "0|3", ">...Login,0,3"},
    {"AServerThatHangsUpWithoutAGreetingIsAskedTenTimes", "=@close", "login|state", "0|3",
     "10*" + kNoGreeting + "|>...Login,0,3"},
    {"AReplyWithoutItsLineEndIsShownAndTheWaitRunsOut",
     "=220 hi|USER alice=@raw 331 Password required", "login", "0",
     "REP: 331 Password required|>...Login,0,3"},
    {"AReplyThatNeverEndsEndsTheWait", "=220 hi|USER alice=@trickle 331-", "login", "0",
     ">...Login,0,3"},

    {"ADownloadThatPausesMidStreamArrivesWhole",
     kRetr + "150 Go;@accept;@send head;@pause 1500;@send tail;@eof;226 Done|TYPE A=200 A",
     "login|get a.bin", "1|1 content", "Downloading file: a.bin|OK: File a.bin downloaded!"},
    {"ATransferStartedWith125WorksLikeOneStartedWith150",
     kRetr + "125 Already open;@data content;226 Done|TYPE A=200 A", "login|get a.bin",
     "1|1 content", ""},
    {"A226ThatOvertakesTheDataWaitsForAllOfIt",
     kRetr + "150 Go\r\n226 Done;@accept;@pause 300;@send content;@eof|TYPE A=200 A",
     "login|get a.bin", "1|1 content", ""},
    {"ADataConnectionDroppedMidDownloadFailsAndLeavesNoFile",
     kRetr + "150 Go (1000000 bytes);@accept;@pause 300;@send head;@reset;426 Closed",
     "login|get a.bin|code", "1|0 -|426", "FAIL: Download of a.bin failed!"},
    {"ARefusedDownloadFailsAtOnceWithTheServersCode", kRetr + "550 No file;@pause 300;150 Go",
     "login|get a.bin|code", "1|0 -|550", "FAIL: Download of a.bin failed!"},
    // The refusal, not the end of the connect window, ends the attempts.
    {"ARefusalEndsTheAttemptsToReachAClosedDataPort",
     kLogin + "PASV=@pasv;@closepasv|TYPE I=200 Binary|RETR a.bin=@pause 200;550 No file",
     "login|get a.bin|code", "1|0 -|550",
     "FAIL: Download of a.bin failed!|0*Failed to create data connection!"},
    {"ALocalWriteThatFailsIsLoggedAndTheDeviceStays", kRetr + "150 Go;@data content;226 Done",
     "login|get a.bin>/dev/full", "1|0 device", "Error writing to file!"},
    {"UploadsEveryByteAndEmptyFiles",
     kLogin + kStor + "stor /in/content=150 Ok;@accept;@recv;@eof;226 Done|TYPE A=200 A|" + kStor +
         "stor /in/empty=150 Ok;@accept;@recv;@eof;226 Done|TYPE A=200 A",
     "login|put /in/content|put /in/empty|uploaded", "1|1|1|content", "CMD: stor /in/content"},
    {"ADataConnectionDroppedMidUploadFailsTheUpload",
     kLogin + kStor + "stor /big=150 Ok;@accept;@recv 30000;@reset;426 Closed|TYPE A=200 A",
     "login|put /big", "1|0", ""},
    {"ARefusedPassiveModeStopsBeforeTheTransferCommand",
     kLogin + "PASV=500 PASV not understood|TYPE I=200 Binary|PASV=425 No port",
     "login|list|put /in/content", "1|none|0", "2*Failed to enter passive mode!"},
    // The summary line is an entry too; a last line without its end is not.
    {"ListsNamesAfterTheEighthFieldAndMarksFolders", kList + "150 Go;@data listing;226 Done",
     "login|list", "1|,annual  report.pdf,old style.txt,photos/,up\x1b.txt",
     "REP: total 12|-rw-r--r--    1 65534      nogroup             6 Dec  5 16:44 up?.txt"},
    {"AListingThatPausesInsideALineLosesNoEntry",
     kList + "150 Go;@accept;@send drwxr-xr-x 2 a b 4096 Mar 1 12:00 pho;@pause 600;@send "
             "tos\r\n-rw-r--r-- 1 a b 5 Mar 1 12:00 a.txt\r\n;@eof;226 Done",
     "login|list", "1|a.txt,photos/", ""},
    // Only a 226 makes a listing, and then an empty one is a listing.
    {"AnEmptyFolderIsAnEmptyListAndAFailedListingNone",
     kList + "150 Go;@data;226 Done|PASV=@pasv|LIST=150 Go;@data a.txt;451 Local error|PASV=@pasv|"
             "LIST=550 Permission denied",
     "login|list|list|list", "1||none|none", ""},
    // The stray 226 must not answer the MKD.
    {"FolderCommandsFoldDoubleSlashesAndNeedTheirCodes",
     kLogin + "CWD /a/b=250 OK\r\n226 Stray|MKD /a/new=257 \"/a/new\" created|RMD /a/new=250 "
              "Removed|RMD /a=550 Not empty|CWD /missing=550 No such",
     "login|cwd /a//b|mkd /a//new|rmd /a/new|rmd /a|cwd /missing", "1|1|1 /a/new|1|0|0", ""},
    // A refused RNFR is not followed by an RNTO; RNTO needs its 250.
    {"ARenameNeedsBothStepsAndStopsAtARefusedFirst",
     kLogin + "RNFR /a/x.fs=550 No such file|RNFR /a/y.fs=350 Ready|RNTO /a/z.fs=553 Not allowed|"
              "RNFR /a/y.fs=350 Ready|RNTO /a/z.fs=250 Renamed",
     "login|ren /a//x.fs>/a/w.fs|code|ren /a/y.fs>/a/z.fs|ren /a/y.fs>/a//z.fs", "1|0|550|0|1", ""},
    // Any final reply ends the wait: the code that follows comes too late.
    {"ARefusedChangeOfFolderFailsAtOnce", kLogin + "CWD /x=550 No such folder;@pause 300;250 OK",
     "login|cwd /x", "1|0", ""},
    {"ARefusedNewFolderFailsAtOnce", kLogin + "MKD /x=550 Exists;@pause 300;257 \"/x\" created",
     "login|mkd /x", "1|0 /x", ""},
    {"APassiveReplyWithoutAUsablePortFailsTheDataConnection",
     kLogin + "PASV=227 Passive (127,0,0,1)|LIST|PASV=227 Passive 127,0,0,1,4,1|LIST|PASV=227 "
              "(127,0,0,1,4)|LIST|PASV=227 (127,0,0,1,4,x)|LIST|PASV=227 (127,0,0,1,4,256)|LIST|"
              "PASV=227 Passive ()|LIST",
     "login|list|list|list|list|list|list", "1|none|none|none|none|none|none",
     "6*Failed to create data connection!"},
    // No question is asked, and nothing touched, for a download that cannot start.
    {"SendsNothingUnlessLoggedInAndTransfersOnlyInPassiveMode", kLogin,
     "local content|get a|cwd /a|mkd /a|pwd|list|active|get a|put /in/content",
     "|0 content|0|0 /a||none|1|0 content|0", ""},
    {"ReadsTheLoginFolderFromTheQuotedPathOfPwd",
     kLogin + "PWD=257 \"/home/alice\" is current|PWD=257 \"/say \"\"hi\"\"\" is current|"
              "PWD=257 \"/no/closing/quote|PWD=550 Not allowed",
     "login|pwd|pwd|pwd|pwd", "1|/home/alice|/say \"hi\"||", ""},

    {"CtrlCEndsTheGreetingWait",
     "=@signal;@pause 800;220 late|USER alice=331 Password|pass pw=230 in", "login|state", "1|0",
     "", "0|1"},
    {"CtrlCEndsAReplyWait", kLogin + "CWD /a=@signal;@pause 800;250 OK", "login|cwd /a", "1|1", "",
     "1|0"},
    {"CtrlCEndsTheDataOfADownload",
     kLogin + "PASV=@pasv|TYPE I=200 Binary|RETR a=150 Go;@signal;@accept;" + kLine +
         ";@pause 800;" + kLine + ";@eof;226 Done|TYPE A=200 A",
     "login|get a", "1|1 other", "", "1|0 -"},
    {"CtrlCEndsAnUploadTheServerDoesNotTake",
     kLogin + kStor +
         "stor /big=150 Ok;@signal;@pause 800;@accept;@recv;@eof;226 Done|TYPE A=200 A",
     "login|put /big", "1|1", "", "1|0"},
    {"CtrlCEndsTheDataOfAListing",
     kList + "150 Go;@signal;@accept;" + kLine + ";@pause 800;" + kLine + ";@eof;226 Done",
     "login|list", "1|a,a", "", "1|none"},
};

class FtpTranscript : public FtpTest, public ::testing::WithParamInterface<std::size_t> {};
using FtpClient = FtpTest;
class FtpRealServer : public FtpTest, public ::testing::WithParamInterface<ServerKind> {};
using FtpActiveMode = FtpTest;

} // namespace

TEST_P(FtpTranscript, Plays) {
    const Case& c = kCases[GetParam()];
    FakeFtpServer server(c.script, kBlobs);
    clsFTPConnection ftp;
    EXPECT_EQ(Do(ftp, server, c.ops), c.outcome);
    EXPECT_TRUE(ftp.Answers.empty());
    const bool open = ftp.connectionState() != clsFTPConnection::kDisconnected;
    EXPECT_EQ(ftp.Disconnect(), open);
    EXPECT_FALSE(ftp.Disconnect());
    EXPECT_EQ(server.Problems(), Strings{});
    EXPECT_TRUE(host.boxes.empty());
    for (std::size_t pos = 0, end = 0; !c.logged.empty() && end != std::string::npos;
         pos = end + 1) {
        const std::string entry = c.logged.substr(pos, (end = c.logged.find('|', pos)) - pos);
        const bool counted = std::isdigit(entry[0]) && entry.find('*') != std::string::npos;
        const std::string line = counted ? entry.substr(entry.find('*') + 1) : entry;
        EXPECT_TRUE(counted ? Count(line) == std::stol(entry) : Logged(line)) << entry;
    }
    EXPECT_TRUE(host.progress.empty() || host.progress.back() == "close");
    if (c.aborted.empty())
        return;
    FakeFtpServer again(c.script, kBlobs);
    host.onYield = [&] { gAbort = gAbort || again.Signalled(); };
    clsFTPConnection aborted;
    EXPECT_EQ(Do(aborted, again, c.ops), c.aborted);
    EXPECT_TRUE(host.progress.empty() || host.progress.back() == "close");
    host.onYield = nullptr;
}

INSTANTIATE_TEST_SUITE_P(Cases, FtpTranscript, ::testing::Range<std::size_t>(0, std::size(kCases)),
                         [](const auto& info) { return std::string(kCases[info.param].name); });

// The PASV reply names a private address; the data connection still goes to
// the host we connected to. A longer local file is replaced, not overwritten
// in part, and only when the user says yes.
TEST_F(FtpClient, DownloadsFromTheKnownHostShowingProgressAndReplacesOnlyOnYes) {
    home.Write("got", BinaryContent(400000));
    FakeFtpServer server(kLogin + "PASV=@pasv 10,0,0,1|TYPE I=200 Binary|RETR report 1.txt=150 Go "
                                  "(300002 bytes);@data content;226 Done|TYPE A=200 A",
                         kBlobs);
    clsFTPConnection ftp;
    host.answers = {MsgAnswer::No, MsgAnswer::Yes};
    EXPECT_EQ(Do(ftp, server, "login|get report 1.txt|get report 1.txt"), "1|2 other|1 content");
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[0].text,
              "The file " + home.File("got") + " already exists! Do you want to overwrite?");
    EXPECT_EQ(host.boxes[0].buttons, MsgButtons::YesNo);
    ASSERT_GE(host.progress.size(), 4u);
    EXPECT_EQ(
        (Strings{host.progress[0], host.progress[1], host.progress.end()[-2],
                 host.progress.back()}),
        (Strings{"show:Downloading file...",
                 "update:Downloading file...|report 1.txt|0.000000|0.000000",
                 "update:Downloading from 127.0.0.1|report 1.txt|100.000000|100.000000", "close"}));
    ftp.Disconnect();
    EXPECT_EQ(server.Problems(), Strings{});
}

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
    START_SERVER(server, GetParam(), served.Path());
    const Blobs blobs = {{"empty.bin", ""},
                         {"name with  blanks.txt", "a few words\r\nand lines\n"},
                         {"big.bin", BinaryContent(30 << 20)},
                         {"pdf", "pdf"}};
    clsFTPConnection ftp;
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
