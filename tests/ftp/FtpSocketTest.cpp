#include "core/Globals.h"
#include "ftp/FtpServers.h"
#include "ftp/clsFTPAnswer.h"
#include "ftp/clsFTPSocket.h"

#include <netinet/in.h>
#include <unistd.h>

using FtpSocket = FtpTest;

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

// Colours, cursor moves, a terminal title and bell, a lone CR that would
// rewrite the line, DEL, NUL and a CSI written in UTF-8 become "?"; a
// listing's Unix line ends become CR LF; other UTF-8, even cut short, stays.
TEST(FtpServerText, ControlCharactersBecomeQuestionMarksAndLineEndsStay) {
    using namespace std::string_literals; // for the NUL
    EXPECT_EQ(
        PrintableServerText("a\x1b[31mred title\x1b]0;owned\x07 over\rwrite one\r\ntwo\nthree "
                            "tab\there\x7f nul\0 c1 \u009b31m Gr\u00fc\u00dfe\u00a0 cut \xc2"s),
        "a?[31mred title?]0;owned? over?write one\r\ntwo\r\nthree tab?here? nul? c1 ?31m "
        "Gr\u00fc\u00dfe\u00a0 cut \xc2");
}

TEST(FtpReplyReader, HandsOutEachReplyOnceItsFinalLineIsIn) {
    // Chunks as they arrive; the replies as "code:line|line" with ";" between.
    const std::tuple<std::vector<std::string>, std::string, std::string> cases[] = {
        {{"220 ready\r\n"}, "220:220 ready", ""},
        {{"150 go\r\n226 done\r\n"}, "150:150 go;226:226 done", ""},
        {{"331 Pass", "word\r", "\n"}, "331:331 Password", ""},
        {{"230 in\r\n250 O"}, "230:230 in", "250 O"},
        // Inside a multi-line reply only "ddd " with its own code ends it.
        {{"220-Welcome\r\n220-", "second\r\n330 not the end\r\n220x\r\n", "220 ready\r\n"},
         "220:220-Welcome|220-second|330 not the end|220x|220 ready",
         ""},
        {{"220-open\r\n220-still open\r\n"}, "", "220-open\r\n220-still open\r\n"},
        {{"200\r\n"}, "200:200", ""},
        {{"220 unix\n331 lf only\n"}, "220:220 unix;331:331 lf only", ""},
        // Lines that are no reply come out alone, with code 0.
        {{"hello\r\n\r\n250 OK\r\n"}, "0:hello;0:;250:250 OK", ""},
    };
    for (const auto& [chunks, replies, pending] : cases) {
        FtpReplyReader reader;
        std::string seen;
        for (const std::string& chunk : chunks) {
            reader.Add(chunk);
            while (std::optional<FtpReply> reply = reader.Next()) {
                seen += (seen.empty() ? "" : ";") + std::to_string(reply->code) + ":";
                for (std::size_t i = 0; i < reply->lines.size(); ++i)
                    seen += (i > 0 ? "|" : "") + reply->lines[i];
            }
        }
        EXPECT_EQ(seen, replies) << chunks.front();
        EXPECT_EQ(reader.Pending(), pending) << chunks.front();
    }
}
