#include "platform/Process.h"
#include "support/TempHome.h"

#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

using Args = std::vector<std::string>;

TEST(CommandLineSplit, BlanksAndTabsSeparateAndRunsOfThemCountOnce) {
    EXPECT_EQ(SplitCommandLine("tool  a\tb \t c"), (Args{"tool", "a", "b", "c"}));
    EXPECT_EQ(SplitCommandLine("   lead and trail   "), (Args{"lead", "and", "trail"}));
    EXPECT_EQ(SplitCommandLine(""), Args{});
    EXPECT_EQ(SplitCommandLine(" \t "), Args{});
}

TEST(CommandLineSplit, QuotesGroupBlanksAndAreRemoved) {
    EXPECT_EQ(SplitCommandLine(R"(bfish /i:"/home/ann/My Docs/a b.txt.ue" /o:"/x y/z")"),
              (Args{"bfish", "/i:/home/ann/My Docs/a b.txt.ue", "/o:/x y/z"}));
    EXPECT_EQ(SplitCommandLine(R"(a"b c"d e)"), (Args{"ab cd", "e"}));
    // An unclosed quote runs to the end of the line.
    EXPECT_EQ(SplitCommandLine(R"(x "open to the end)"), (Args{"x", "open to the end"}));
}

TEST(CommandLineSplit, EmptyQuotedArgumentsAreKept) {
    EXPECT_EQ(SplitCommandLine(R"(tool "" next)"), (Args{"tool", "", "next"}));
    EXPECT_EQ(SplitCommandLine(R"("")"), Args{""});
    EXPECT_EQ(SplitCommandLine(R"(tool "")"), (Args{"tool", ""}));
}

TEST(CommandLineSplit, BackslashesCountOnlyBeforeAQuote) {
    // Not before a quote: taken as they stand.
    EXPECT_EQ(SplitCommandLine(R"(a\b c\\d e\\\)"), (Args{R"(a\b)", R"(c\\d)", R"(e\\\)"}));
    // 2n backslashes and a quote: n backslashes, the quote groups.
    EXPECT_EQ(SplitCommandLine(R"("a\\" b)"), (Args{R"(a\)", "b"}));
    EXPECT_EQ(SplitCommandLine(R"(x\\\\"y z")"), (Args{R"(x\\y z)"}));
    // 2n+1 backslashes and a quote: n backslashes and a literal quote.
    EXPECT_EQ(SplitCommandLine(R"(a\"b c)"), (Args{R"(a"b)", "c"}));
    EXPECT_EQ(SplitCommandLine(R"("a\\\" b" c)"), (Args{R"(a\" b)", "c"}));
    // A doubled quote inside a quoted run is a literal quote.
    EXPECT_EQ(SplitCommandLine(R"("say ""hi""" x)"), (Args{R"(say "hi")", "x"}));
}

namespace {

bool ProcessExists(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

} // namespace

TEST(ChildProcessRun, ArgumentsArriveWholeAndTheExitCodeComesBack) {
    TempHome home;
    const std::string out = home.File("args.txt");
    ChildProcess child = RunProcess("/bin/sh -c \"printf '%s|' \\\"$@\\\" > '" + out +
                                    "'; exit 7\" sh \"two words\" plain \"\" \"q\\\"uote\"");
    ASSERT_TRUE(child.IsStarted());
    child.Wait();
    EXPECT_FALSE(IsProcessRunning(child));
    EXPECT_EQ(child.ExitCode(), 7);
    EXPECT_EQ(home.Read("args.txt"), "two words|plain||q\"uote|");
}

TEST(ChildProcessRun, PollingReapsTheChildAndGivesItsExitCode) {
    ChildProcess child = RunProcess("/bin/sh -c \"read line; exit 3\"");
    ASSERT_TRUE(child.IsStarted());
    // Its input is /dev/null, so "read" returns at once instead of waiting.
    while (IsProcessRunning(child))
        ::usleep(1000);
    EXPECT_EQ(child.ExitCode(), 3);
    EXPECT_EQ(child.Pid(), -1);
}

TEST(ChildProcessRun, MissingOrEmptyProgramDoesNotStart) {
    EXPECT_FALSE(RunProcess("/nonexistent/tool /q").IsStarted());
    EXPECT_FALSE(RunProcess("tidevault-no-such-tool-on-path").IsStarted());
    EXPECT_FALSE(RunProcess("").IsStarted());
    EXPECT_FALSE(RunProcess("\"\" x").IsStarted());
    ChildProcess none;
    EXPECT_FALSE(IsProcessRunning(none));
    EXPECT_EQ(none.ExitCode(), -1);
}

TEST(ChildProcessRun, AChildStillRunningIsKilledAndReapedWithItsOwner) {
    pid_t pid = -1;
    {
        ChildProcess child = RunProcess("sleep 30");
        ASSERT_TRUE(child.IsStarted());
        pid = child.Pid();
        ASSERT_GT(pid, 0);
        EXPECT_TRUE(child.IsRunning());
        // A moved-to owner takes over the duty.
        ChildProcess owner = std::move(child);
        EXPECT_FALSE(child.IsRunning());
        EXPECT_TRUE(owner.IsRunning());
        EXPECT_FALSE(owner.Start("sleep 1")); // one process per object
    }
    // Reaped, not a zombie: the id is gone.
    EXPECT_FALSE(ProcessExists(pid));

    ChildProcess killed = RunProcess("sleep 30");
    ASSERT_TRUE(killed.IsStarted());
    killed.Kill();
    EXPECT_FALSE(killed.IsRunning());
    EXPECT_EQ(killed.ExitCode(), -1); // a signal, not an exit status
}
