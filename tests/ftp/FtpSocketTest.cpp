#include "core/Globals.h"
#include "ftp/FtpTestSupport.h"
#include "ftp/clsFTPSocket.h"

#include <netinet/in.h>
#include <unistd.h>

namespace {

class FtpSocket : public FtpTest {};

} // namespace

TEST_F(FtpSocket, ResolvesNamesConnectsToTheHighestPortAndFailsConnectsItCannotMake) {
    clsFTPSocket socket;
    EXPECT_EQ(socket.mygethostbyname("localhost"), "127.0.0.1");
    EXPECT_EQ(socket.mygethostbyname("no-such-host.invalid"), "no-such-host.invalid");
    for (const auto& [host, port] :
         std::vector<std::pair<std::string, int>>{{"", 21},
                                                  {"127.0.0.1", ClosedLoopbackPort()},
                                                  {"127.0.0.1", 0},
                                                  {"127.0.0.1", 70000},
                                                  {"no-such-host.invalid", 21}})
        EXPECT_FALSE(socket.FTPConnect(host, port) || socket.SimpleConnect(host, port)) << host;
    EXPECT_EQ(socket.State, 1);
    EXPECT_FALSE(socket.IsOpen());
    clsFTPConnection ftp;
    EXPECT_EQ(Do(ftp, ClosedLoopbackPort(), {}, "login|state"), "0|1");

    FakeFtpServer server("HELLO", {}, 65535);
    if (server.Port() == 0)
        GTEST_SKIP() << "port 65535 is taken on this machine";
    ASSERT_TRUE(socket.SimpleConnect("127.0.0.1", 65535));
    EXPECT_EQ(socket.State, 3);
    EXPECT_EQ(socket.PeerAddress(), "127.0.0.1");
    socket.sendData("HELLO");
    socket.sendData("QUIT");
    socket.FTPDisconnect();
    EXPECT_EQ(server.Problems(), Strings{});
}

// A listener whose queue is full lets a connect hang for the whole connect
// window; Ctrl-C must end it.
TEST_F(FtpSocket, AnAbortEndsAConnectThatHangs) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int filler = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), length), 0);
    ASSERT_EQ(::listen(listener, 0) +
                  ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length),
              0);
    ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&a), length), 0);
    host.onYield = [&] { gAbort = host.yields > 3; };
    clsFTPSocket socket;
    EXPECT_LT(
        MillisecondsTaken([&] { EXPECT_FALSE(socket.FTPConnect("127.0.0.1", ntohs(a.sin_port))); }),
        clsFTPSocket::kConnectTimeoutMs / 2);
    ::close(filler);
    ::close(listener);
}

// A peer that never falls silent is cut off after a while.
TEST_F(FtpSocket, CollectsDataUntilSilenceOrTheEndLogsItPrintableAndSurvivesTheHangUp) {
    FakeFtpServer server("=@raw one\x1b[2J\r\n;@pause 100;@raw two\r\nthree;@close");
    FakeFtpServer trickling("=@trickle 220-");
    clsFTPSocket data, endless;
    ASSERT_TRUE(data.SimpleConnect("127.0.0.1", server.Port()) &&
                endless.SimpleConnect("127.0.0.1", trickling.Port()));
    std::string text;
    data.Getanswer(text);
    EXPECT_EQ(text, "one\x1b[2J\r\ntwo\r\nthree");
    EXPECT_EQ(Log(), (Strings{"REP: one?[2J", "two", "three"}));
    EXPECT_TRUE(data.IsFinished());
    EXPECT_EQ(data.Getanswer(text), 0);
    // Without MSG_NOSIGNAL a send after the hang-up would end this process
    // by SIGPIPE.
    bool refused = false;
    for (int i = 0; i < 8 && !refused; ++i)
        refused = !data.sendBinaryData(std::string(1 << 20, 'x'));
    EXPECT_TRUE(refused);
    EXPECT_FALSE(data.sendData("NOOP"));
    EXPECT_LT(MillisecondsTaken([&] { endless.Getanswer(text, true); }), 20000);
    EXPECT_FALSE(text.empty());
}

TEST_F(FtpSocket, SendsCommandsTrimmedWithCrLfMaskedAndNeverWithALineBreakInside) {
    FakeFtpServer server("NOOP|pass abc|PASS|Pass two words");
    clsFTPSocket ctrl;
    ASSERT_TRUE(ctrl.FTPConnect("127.0.0.1", server.Port()));
    for (const char* command : {"  NOOP  ", "RETR a\r\nDELE b", "RETR a\nDELE b", "pass abc",
                                "PASS", "Pass two words", "QUIT"})
        EXPECT_EQ(ctrl.sendData(command), std::string(command).find('\n') == std::string::npos);
    ctrl.FTPDisconnect();
    EXPECT_EQ(server.Problems(), Strings{});
    const std::string notSent = "CMD: RETR aDELE b (not sent: line break inside a command)";
    EXPECT_EQ(Log(), (Strings{"CMD: NOOP", notSent, notSent, "CMD: PASS ***", "CMD: PASS ",
                              "CMD: PASS *********", "CMD: QUIT"}));
}
