#include "ftp/FtpTestSupport.h"

namespace {

const std::string kNoGreeting = "Couldn't read servers welcome message!";
using State = clsFTPConnection::ConnectionState;

struct LoginCase {
    const char* name;
    std::vector<FakeStep> script;
    const char* user;
    bool loggedIn;
    State state;
    Strings commands; // everything the server read, up to the QUIT of Disconnect
    Strings logged;   // among the activity lines
    long noGreeting;  // how often kNoGreeting was logged
};

void PrintTo(const LoginCase& c, std::ostream* os) {
    *os << c.name;
}

const LoginCase kLoginCases[] = {
    {"ExactCommandsWithThePasswordMasked",
     LoginScript(),
     "alice",
     true,
     State::kLoggedIn,
     {"USER alice", "pass pw", "QUIT"},
     {"CMD: USER alice", "CMD: PASS **", ">...Login,331,3", ">...Login,230,3"},
     0},
    {"MultiLineRepliesInOneBurst",
     {{"", "220-Welcome\r\n220-to the fake\r\n220 Ready"},
      {"USER alice", "331-Password\r\n331 required"},
      {"pass pw", "230-Hello\r\n230 Logged in"}},
     "alice",
     true,
     State::kLoggedIn,
     {"USER alice", "pass pw", "QUIT"},
     {"REP: 220-Welcome", "220-to the fake", "220 Ready"},
     0},
    {"PreliminaryRepliesPassAndControlCharactersAreNeutralised",
     {{"", "120 Ready in a moment"},
      {"", "220 hello\x1b]0;owned\x07\x1b[2J"},
      {"USER alice", "331 Password"},
      {"pass pw", "230 in"}},
     "alice",
     true,
     State::kLoggedIn,
     {"USER alice", "pass pw", "QUIT"},
     {"REP: 120 Ready in a moment", "REP: 220 hello?]0;owned??[2J"},
     0},
    {"AnEmptyUserNameLogsInAsAnonymous",
     {{"", "220 ready"}, {"USER anonymous", "331 Send e-mail"}, {"pass ", "230 Welcome"}},
     "",
     true,
     State::kLoggedIn,
     {"USER anonymous", "pass tidevault@example.com", "QUIT"},
     {},
     0},
    {"AServerThatSkipsThePasswordIsNotTakenAsLoggedIn",
     {{"", "220 ready"}, {"USER", "230 Anonymous logged in"}},
     "",
     false,
     State::kConnected,
     {"USER anonymous", "QUIT"},
     {">...Login,0,3"},
     0},
    {"ARefusedGreetingIsNotAskedForNineTimesMore",
     {{"", "421 Too many connections"}, {"USER alice", "530 Not now"}},
     "alice",
     false,
     State::kConnected,
     {"USER alice", "QUIT"},
     {"REP: 421 Too many connections"},
     1},
    {"AServerThatHangsUpAfterTheGreetingFailsTheLogin",
     {{"", "220 ready"}, {"USER alice", {CloseControl()}}},
     "alice",
     false,
     State::kConnected,
     {"USER alice"},
     {">...Login,0,3"},
     0},
    {"AServerThatHangsUpWithoutAGreetingIsAskedTenTimes",
     {{"", {CloseControl()}}},
     "alice",
     false,
     State::kConnected,
     {},
     {">...Login,0,3"},
     10},
    {"AReplyWithoutItsLineEndIsShownAndTheWaitRunsOut",
     {{"", "220 ready"}, {"USER alice", {Reply("331 Password required")}}},
     "alice",
     false,
     State::kConnected,
     {"USER alice", "QUIT"},
     {"REP: 331 Password required", ">...Login,0,3"},
     0},
    {"AReplyThatNeverEndsEndsTheWait",
     {{"", "220 ready"}, {"USER", {TrickleForever("331-")}}},
     "alice",
     false,
     State::kConnected,
     {"USER alice", "QUIT"},
     {">...Login,0,3"},
     0},
};

class FtpLogin : public FtpTest, public ::testing::WithParamInterface<LoginCase> {};
class FtpControl : public FtpTest {};

} // namespace

TEST_P(FtpLogin, Transcript) {
    const LoginCase& c = GetParam();
    FakeFtpServer server(c.script);
    clsFTPConnection ftp;
    EXPECT_EQ(ftp.connectionState(), State::kDisconnected);
    ftp.SetupConnection("127.0.0.1", server.Port(), c.user, "pw", true);
    bool loggedIn = !c.loggedIn;
    EXPECT_LT(MillisecondsTaken([&] { loggedIn = ftp.EstablishConnection(); }), 30000);
    EXPECT_EQ(loggedIn, c.loggedIn);
    EXPECT_EQ(ftp.connectionState(), c.state);
    EXPECT_TRUE(ftp.Answers.empty());
    for (const std::string& line : c.logged)
        EXPECT_TRUE(Logged(line)) << line;
    EXPECT_EQ(Count(kNoGreeting), c.noGreeting);
    EXPECT_TRUE(ftp.Disconnect());
    EXPECT_FALSE(ftp.Disconnect());
    EXPECT_EQ(ftp.connectionState(), State::kDisconnected);
    if (!c.commands.empty())
        EXPECT_EQ(server.FinalCommands(), c.commands);
}

INSTANTIATE_TEST_SUITE_P(Cases, FtpLogin, ::testing::ValuesIn(kLoginCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The 230 that follows must not count: the 530 ended the wait.
TEST_F(FtpControl, ARefusedPasswordFailsTheLoginAtOnceWithCodeZero) {
    FakeFtpServer server(
        {{"", "220 ready"},
         {"USER alice", "331 Password"},
         {"pass pw", {Reply("530 Login incorrect.\r\n"), Pause(300), Reply("230 in\r\n")}}});
    clsFTPConnection ftp;
    EXPECT_FALSE(LogIn(ftp, server));
    EXPECT_EQ(ftp.connectionState(), clsFTPConnection::kConnected);
    EXPECT_EQ(ftp.LastReplyCode(), 530);
    EXPECT_TRUE(Logged(">...Login,0,3"));
}

TEST_F(FtpControl, AnUnreachableHostFailsTheConnect) {
    clsFTPConnection ftp;
    ftp.SetupConnection("127.0.0.1", ClosedLoopbackPort(), "alice", "pw", true);
    EXPECT_FALSE(ftp.EstablishConnection());
    EXPECT_EQ(ftp.connectionState(), clsFTPConnection::kDisconnected);
    EXPECT_FALSE(ftp.Disconnect());
}

TEST_F(FtpControl, NothingIsSentUnlessLoggedInAndTransfersNeedPassiveMode) {
    FakeFtpServer server(LoginScript());
    clsFTPConnection ftp;
    std::string folder = "/a";
    EXPECT_EQ(ftp.GetFile("a", home.File("a")), clsFTPConnection::kGetFileFailed);
    EXPECT_FALSE(ftp.ChangeCurrentDirectory("/a"));
    EXPECT_FALSE(ftp.CreateFTPDirectory(folder));
    EXPECT_EQ(ftp.GetRootDir(), "");
    EXPECT_FALSE(ftp.GetFileList().has_value());

    ASSERT_TRUE(LogIn(ftp, server, false));
    home.Write("up.txt", "data");
    home.Write("existing.txt", "keep me");
    EXPECT_EQ(ftp.GetFile("x", home.File("existing.txt")), clsFTPConnection::kGetFileFailed);
    EXPECT_FALSE(ftp.StoreFile(home.File("up.txt"), "/in"));
    ftp.Disconnect();
    EXPECT_EQ(server.FinalCommands(), LoginAnd({"QUIT"}));
    // No question was asked and nothing was touched for a download that
    // could not start.
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(home.Read("existing.txt"), "keep me");
}
