#include "ftp/FtpTestSupport.h"
#include "ftp/clsFTPSocket.h"

namespace {

class FtpSocket : public FtpTest {};

} // namespace

TEST_F(FtpSocket, ResolvesNamesAndKeepsWhatItCannotResolve) {
    clsFTPSocket socket;
    EXPECT_EQ(socket.mygethostbyname("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(socket.mygethostbyname("localhost"), "127.0.0.1");
    EXPECT_EQ(socket.mygethostbyname("no-such-host.invalid"), "no-such-host.invalid");
}

TEST_F(FtpSocket, RefusedOrImpossibleConnectsFailAndLeaveTheSocketClosed) {
    clsFTPSocket socket;
    EXPECT_FALSE(socket.FTPConnect("", 21));
    EXPECT_FALSE(socket.SimpleConnect("", 21));
    EXPECT_FALSE(socket.FTPConnect("127.0.0.1", ClosedLoopbackPort()));
    EXPECT_EQ(socket.State, 1);
    EXPECT_FALSE(socket.SimpleConnect("127.0.0.1", 0));
    EXPECT_FALSE(socket.SimpleConnect("127.0.0.1", 70000));
    EXPECT_FALSE(socket.FTPConnect("no-such-host.invalid", 21));
    EXPECT_EQ(socket.State, 1);
    EXPECT_FALSE(socket.IsOpen());
}

TEST_F(FtpSocket, ConnectsToTheHighestPort) {
    FakeFtpServer server({{"HELLO", {}}}, 65535);
    if (!server.Listening())
        GTEST_SKIP() << "port 65535 is taken on this machine";
    clsFTPSocket socket;
    ASSERT_TRUE(socket.SimpleConnect("127.0.0.1", 65535));
    EXPECT_EQ(socket.State, 3);
    socket.sendData("HELLO");
    socket.FTPDisconnect();
    EXPECT_EQ(server.FinalCommands(), std::vector<std::string>{"HELLO"});
}

TEST_F(FtpSocket, AControlReplyEndsAtItsFinalLineButDataWaitsForSilence) {
    const std::vector<FakeStep> script = {
        {"", {Reply("220 one\r\n"), Pause(100), Reply("220 two\r\n")}}};
    FakeFtpServer control(script);
    clsFTPSocket ctrl;
    ctrl.bControlChannel = true;
    ASSERT_TRUE(ctrl.FTPConnect("127.0.0.1", control.Port()));
    std::string text;
    EXPECT_EQ(ctrl.Getanswer(text), 9);
    EXPECT_EQ(text, "220 one\r\n");
    ctrl.Getanswer(text);
    EXPECT_EQ(text, "220 two\r\n");

    FakeFtpServer data(script);
    clsFTPSocket plain;
    ASSERT_TRUE(plain.SimpleConnect("127.0.0.1", data.Port()));
    plain.Getanswer(text);
    EXPECT_EQ(text, "220 one\r\n220 two\r\n");
    EXPECT_TRUE(Logged("REP: 220 one"));
}

TEST_F(FtpSocket, AnOpenMultiLineReplyIsCollectedUntilItsLastLine) {
    FakeFtpServer server(
        {{"",
          {Reply("220-Welcome\r\n220-"), Pause(100), Reply("second line\r\n330 not the end\r\n"),
           Pause(100), Reply("220 ready\r\n")}}});
    clsFTPSocket ctrl;
    ctrl.bControlChannel = true;
    ASSERT_TRUE(ctrl.FTPConnect("127.0.0.1", server.Port()));
    std::string text;
    ctrl.Getanswer(text);
    EXPECT_EQ(text, "220-Welcome\r\n220-second line\r\n330 not the end\r\n220 ready\r\n");
}

TEST_F(FtpSocket, APeerThatClosesEndsTheCollectionWithWhatCame) {
    FakeFtpServer server({{"", {Reply("partial reply without end"), CloseControl()}}});
    clsFTPSocket ctrl;
    ctrl.bControlChannel = true;
    ASSERT_TRUE(ctrl.FTPConnect("127.0.0.1", server.Port()));
    std::string text;
    ctrl.Getanswer(text);
    EXPECT_EQ(text, "partial reply without end");
    EXPECT_TRUE(ctrl.IsFinished());
    EXPECT_EQ(ctrl.Getanswer(text), 0);
    EXPECT_EQ(text, "");
}

TEST_F(FtpSocket, APeerThatNeverFallsSilentIsCutOff) {
    FakeFtpServer server({{"", {TrickleForever("220-")}}});
    clsFTPSocket ctrl;
    ctrl.bControlChannel = true;
    ASSERT_TRUE(ctrl.FTPConnect("127.0.0.1", server.Port()));
    std::string text;
    const long long taken = MillisecondsTaken([&] { ctrl.Getanswer(text, true); });
    EXPECT_FALSE(text.empty());
    EXPECT_LT(taken, 20000);
    ctrl.FTPDisconnect();
}

TEST_F(FtpSocket, CommandsGoOutTrimmedWithCrLfAndPasswordsAreMaskedInTheLog) {
    FakeFtpServer server({{"NOOP", {}}, {"pass", {}}, {"PASS", {}}, {"Pass", {}}});
    clsFTPSocket ctrl;
    ASSERT_TRUE(ctrl.FTPConnect("127.0.0.1", server.Port()));
    EXPECT_TRUE(ctrl.sendData("  NOOP  "));
    EXPECT_TRUE(ctrl.sendData("pass abc"));
    EXPECT_TRUE(ctrl.sendData("PASS"));
    EXPECT_TRUE(ctrl.sendData("Pass two words"));
    ctrl.FTPDisconnect();
    EXPECT_EQ(server.FinalCommands(),
              (std::vector<std::string>{"NOOP", "pass abc", "PASS", "Pass two words"}));
    EXPECT_EQ(Log(), (std::vector<std::string>{"CMD: NOOP", "CMD: PASS ***", "CMD: PASS ",
                                               "CMD: PASS *********"}));
}

TEST_F(FtpSocket, ALineBreakInsideACommandIsNeverSent) {
    FakeFtpServer server(std::vector<FakeStep>{{"NOOP", {}}});
    clsFTPSocket ctrl;
    ASSERT_TRUE(ctrl.FTPConnect("127.0.0.1", server.Port()));
    EXPECT_FALSE(ctrl.sendData("RETR a\r\nDELE b"));
    EXPECT_FALSE(ctrl.sendData("RETR a\nDELE b"));
    EXPECT_TRUE(ctrl.sendData("NOOP"));
    ctrl.FTPDisconnect();
    EXPECT_EQ(server.FinalCommands(), std::vector<std::string>{"NOOP"});
}

TEST_F(FtpSocket, SendingToAPeerThatHungUpFailsWithoutKillingTheProcess) {
    FakeFtpServer server({{"", {CloseControl()}}});
    clsFTPSocket data;
    ASSERT_TRUE(data.SimpleConnect("127.0.0.1", server.Port()));
    std::string text;
    data.Getanswer(text); // sees the hang-up
    const std::string block(1 << 20, 'x');
    bool refused = false;
    // Without MSG_NOSIGNAL the second send would end this process by SIGPIPE.
    for (int i = 0; i < 8 && !refused; ++i)
        refused = !data.sendBinaryData(block);
    EXPECT_TRUE(refused);
    EXPECT_FALSE(data.sendData("NOOP"));
}
