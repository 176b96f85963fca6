#include "core/Globals.h"
#include "ftp/FtpTestSupport.h"
#include "ftp/clsFTPSocket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
    FakeFtpServer server("HELLO", {}, 65535);
    if (!server.Listening())
        GTEST_SKIP() << "port 65535 is taken on this machine";
    clsFTPSocket socket;
    ASSERT_TRUE(socket.SimpleConnect("127.0.0.1", 65535));
    EXPECT_EQ(socket.State, 3);
    EXPECT_EQ(socket.PeerAddress(), "127.0.0.1");
    socket.sendData("HELLO");
    socket.FTPDisconnect();
    EXPECT_EQ(server.Problems(), Strings{});
}

// A server whose queue is full lets a connect hang for the whole connect
// window; Ctrl-C must end it.
TEST_F(FtpSocket, AnAbortEndsAConnectThatHangs) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), length), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length);
    ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&a), length), 0);
    host.onYield = [&] { gAbort = host.yields > 3; };
    clsFTPSocket socket;
    bool connected = true;
    EXPECT_LT(
        MillisecondsTaken([&] { connected = socket.FTPConnect("127.0.0.1", ntohs(a.sin_port)); }),
        clsFTPSocket::kConnectTimeoutMs / 2);
    EXPECT_FALSE(connected);
    ::close(filler);
    ::close(listener);
}

TEST_F(FtpSocket, DataIsCollectedUntilSilenceOrTheEndAndLoggedPrintable) {
    FakeFtpServer server("=@raw one\x1b[2J\r\n;@pause 100;@raw two\r\nthree;@close");
    clsFTPSocket data;
    ASSERT_TRUE(data.SimpleConnect("127.0.0.1", server.Port()));
    std::string text;
    data.Getanswer(text);
    EXPECT_EQ(text, "one\x1b[2J\r\ntwo\r\nthree");
    EXPECT_EQ(Log(), (Strings{"REP: one?[2J", "two", "three"}));
    EXPECT_TRUE(data.IsFinished());
    EXPECT_EQ(data.Getanswer(text), 0);
    EXPECT_EQ(text, "");
}

TEST_F(FtpSocket, APeerThatNeverFallsSilentIsCutOff) {
    FakeFtpServer server("=@trickle 220-");
    clsFTPSocket data;
    ASSERT_TRUE(data.SimpleConnect("127.0.0.1", server.Port()));
    std::string text;
    EXPECT_LT(MillisecondsTaken([&] { data.Getanswer(text, true); }), 20000);
    EXPECT_FALSE(text.empty());
    data.FTPDisconnect();
}

TEST_F(FtpSocket, CommandsGoOutTrimmedWithCrLfMaskedAndNeverWithALineBreakInside) {
    FakeFtpServer server("NOOP|pass abc|PASS|Pass two words");
    clsFTPSocket ctrl;
    ASSERT_TRUE(ctrl.FTPConnect("127.0.0.1", server.Port()));
    EXPECT_TRUE(ctrl.sendData("  NOOP  "));
    EXPECT_FALSE(ctrl.sendData("RETR a\r\nDELE b"));
    EXPECT_FALSE(ctrl.sendData("RETR a\nDELE b"));
    EXPECT_TRUE(ctrl.sendData("pass abc"));
    EXPECT_TRUE(ctrl.sendData("PASS"));
    EXPECT_TRUE(ctrl.sendData("Pass two words"));
    ctrl.FTPDisconnect();
    EXPECT_EQ(server.Problems(), Strings{});
    EXPECT_EQ(Log(),
              (Strings{"CMD: NOOP", "CMD: RETR aDELE b (not sent: line break inside a command)",
                       "CMD: RETR aDELE b (not sent: line break inside a command)", "CMD: PASS ***",
                       "CMD: PASS ", "CMD: PASS *********"}));
}

TEST_F(FtpSocket, SendingToAPeerThatHungUpFailsWithoutKillingTheProcess) {
    FakeFtpServer server("=@close");
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
