#include "ftp/FtpTestSupport.h"

namespace {

class FtpControl : public FtpTest {};

const std::string kNoGreeting = "Couldn't read servers welcome message!";

} // namespace

TEST_F(FtpControl, LogsInWithTheExactCommandsAndLogsOutOnce) {
    FakeFtpServer server(LoginScript());
    clsFTPConnection ftp;
    EXPECT_EQ(ftp.connectionState(), 1);
    ASSERT_TRUE(LogIn(ftp, server));
    EXPECT_EQ(ftp.connectionState(), 0);
    EXPECT_TRUE(ftp.Answers.empty());
    EXPECT_TRUE(Logged("CMD: USER alice"));
    EXPECT_TRUE(Logged("CMD: PASS **"));
    EXPECT_TRUE(Logged(">...Login,331,3"));
    EXPECT_TRUE(Logged(">...Login,230,3"));
    EXPECT_FALSE(Logged(kNoGreeting));

    EXPECT_TRUE(ftp.Disconnect());
    EXPECT_EQ(ftp.connectionState(), 1);
    EXPECT_FALSE(ftp.Disconnect());
    EXPECT_EQ(server.FinalCommands(), (std::vector<std::string>{"USER alice", "pass pw", "QUIT"}));
    EXPECT_TRUE(server.Problems().empty());
}

TEST_F(FtpControl, AMultiLineGreetingInOneBurstSatisfiesTheWait) {
    FakeFtpServer server(
        std::vector<FakeStep>{{"", {Reply("220-Welcome\r\n220-to the fake\r\n220 Ready\r\n")}},
                              {"USER alice", {Reply("331-Password\r\n331 required\r\n")}},
                              {"pass pw", {Reply("230-Hello\r\n230 Logged in\r\n")}}});
    clsFTPConnection ftp;
    ASSERT_TRUE(LogIn(ftp, server));
    EXPECT_FALSE(Logged(kNoGreeting));
}

TEST_F(FtpControl, ARefusedPasswordFailsTheLoginWithCodeZero) {
    FakeFtpServer server(std::vector<FakeStep>{{"", {Reply("220 ready\r\n")}},
                                               {"USER alice", {Reply("331 Password\r\n")}},
                                               {"pass pw", {Reply("530 Login incorrect.\r\n")}}});
    clsFTPConnection ftp;
    EXPECT_FALSE(LogIn(ftp, server));
    EXPECT_EQ(ftp.connectionState(), 3);
    // The wait reports 0, never the server's 530.
    EXPECT_TRUE(Logged(">...Login,0,3"));
    EXPECT_TRUE(ftp.Answers.empty());
}

TEST_F(FtpControl, AnEmptyUserNameLogsInAsAnonymous) {
    FakeFtpServer server(std::vector<FakeStep>{{"", {Reply("220 ready\r\n")}},
                                               {"USER anonymous", {Reply("331 Send e-mail\r\n")}},
                                               {"pass ", {Reply("230 Welcome\r\n")}}});
    clsFTPConnection ftp;
    ftp.SetupConnection("127.0.0.1", server.Port(), "", "", true);
    ASSERT_TRUE(ftp.EstablishConnection());
    ftp.Disconnect();
    EXPECT_EQ(server.FinalCommands(),
              (std::vector<std::string>{"USER anonymous", "pass tidevault@example.com", "QUIT"}));
}

TEST_F(FtpControl, AServerThatSkipsThePasswordIsNotTakenAsLoggedIn) {
    FakeFtpServer server(std::vector<FakeStep>{{"", {Reply("220 ready\r\n")}},
                                               {"USER", {Reply("230 Anonymous logged in\r\n")}}});
    clsFTPConnection ftp;
    ftp.SetupConnection("127.0.0.1", server.Port(), "", "", true);
    EXPECT_FALSE(ftp.EstablishConnection());
    EXPECT_EQ(ftp.connectionState(), 3);
    EXPECT_TRUE(Logged(">...Login,0,3"));
    ftp.Disconnect();
    EXPECT_EQ(server.FinalCommands(), (std::vector<std::string>{"USER anonymous", "QUIT"}));
}

TEST_F(FtpControl, AnUnreachableHostFailsTheConnect) {
    clsFTPConnection ftp;
    ftp.SetupConnection("127.0.0.1", ClosedLoopbackPort(), "alice", "pw", true);
    EXPECT_FALSE(ftp.EstablishConnection());
    EXPECT_EQ(ftp.connectionState(), 1);
    EXPECT_FALSE(ftp.Disconnect());
}

TEST_F(FtpControl, AServerThatHangsUpAfterTheGreetingFailsTheLogin) {
    FakeFtpServer server(
        std::vector<FakeStep>{{"", {Reply("220 ready\r\n")}}, {"USER alice", {CloseControl()}}});
    clsFTPConnection ftp;
    bool loggedIn = true;
    EXPECT_LT(MillisecondsTaken([&] { loggedIn = LogIn(ftp, server); }), 20000);
    EXPECT_FALSE(loggedIn);
    EXPECT_TRUE(Logged(">...Login,0,3"));
    // The state stays; the next command simply gets nothing back.
    EXPECT_EQ(ftp.connectionState(), 3);
}

TEST_F(FtpControl, AServerThatHangsUpWithoutAGreetingTriesTenTimesThenFailsTheLogin) {
    FakeFtpServer server(std::vector<FakeStep>{{"", {CloseControl()}}});
    clsFTPConnection ftp;
    bool loggedIn = true;
    EXPECT_LT(MillisecondsTaken([&] { loggedIn = LogIn(ftp, server); }), 60000);
    EXPECT_FALSE(loggedIn);
    EXPECT_EQ(Count(kNoGreeting), 10);
    EXPECT_TRUE(Logged(">...Login,0,3"));
}

TEST_F(FtpControl, AReplyWithoutItsLineEndIsDroppedAndTheWaitRunsOut) {
    FakeFtpServer server(std::vector<FakeStep>{{"", {Reply("220 ready\r\n")}},
                                               {"USER alice", {Reply("331 Password required")}}});
    clsFTPConnection ftp;
    bool loggedIn = true;
    EXPECT_LT(MillisecondsTaken([&] { loggedIn = LogIn(ftp, server); }), 20000);
    EXPECT_FALSE(loggedIn);
    EXPECT_TRUE(Logged(">...Login,0,3"));
}

TEST_F(FtpControl, AReplyThatNeverEndsEndsTheWait) {
    FakeFtpServer server(
        std::vector<FakeStep>{{"", {Reply("220 ready\r\n")}}, {"USER", {TrickleForever("331-")}}});
    clsFTPConnection ftp;
    bool loggedIn = true;
    EXPECT_LT(MillisecondsTaken([&] { loggedIn = LogIn(ftp, server); }), 40000);
    EXPECT_FALSE(loggedIn);
    EXPECT_TRUE(Logged(">...Login,0,3"));
    ftp.ctrlSocket.FTPDisconnect();
}

TEST_F(FtpControl, AnUnclearedReplyLineSatisfiesALaterWaitUntilCleared) {
    FakeFtpServer server(LoginScript() + std::vector<FakeStep>{{"NOOP", {Reply("250 OK\r\n")}}});
    clsFTPConnection ftp;
    ASSERT_TRUE(LogIn(ftp, server));
    ftp.ctrlSocket.sendData("NOOP");
    std::string line;
    EXPECT_EQ(ftp.WaitAnswer(250, &line), 250);
    EXPECT_EQ(line, "250 OK");
    ASSERT_EQ(ftp.Answers.size(), 1u);
    EXPECT_EQ(ftp.Answers[0].replycode, 250);
    // Nothing new arrives; the old line answers again.
    EXPECT_EQ(ftp.WaitAnswer(250, nullptr, 300), 250);
    ftp.ClearAnswers();
    EXPECT_EQ(ftp.WaitAnswer(250, nullptr, 300), 0);
}

TEST_F(FtpControl, NothingIsSentUnlessLoggedInAndTransfersNeedPassiveMode) {
    FakeFtpServer server(LoginScript());
    clsFTPConnection ftp;
    std::string folder = "/a";
    EXPECT_EQ(ftp.GetFile("a", home.File("a")), 0);
    EXPECT_FALSE(ftp.ChangeCurrentDirectory("/a"));
    EXPECT_FALSE(ftp.CreateFTPDirectory(folder));
    EXPECT_EQ(ftp.GetRootDir(), "");
    EXPECT_FALSE(ftp.GetFileList().has_value());

    ASSERT_TRUE(LogIn(ftp, server, false));
    home.Write("up.txt", "data");
    home.Write("existing.txt", "keep me");
    EXPECT_EQ(ftp.GetFile("x", home.File("existing.txt")), 0);
    EXPECT_FALSE(ftp.StoreFile(home.File("up.txt"), "/in"));
    ftp.Disconnect();
    EXPECT_EQ(server.FinalCommands(), (std::vector<std::string>{"USER alice", "pass pw", "QUIT"}));
    // No question was asked and nothing was touched for a download that
    // could not start.
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(home.Read("existing.txt"), "keep me");
}
