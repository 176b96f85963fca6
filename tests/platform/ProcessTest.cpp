#include "platform/Process.h"
#include "support/TempHome.h"

#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

using Args = std::vector<std::string>;

TEST(CommandLineSplit, FollowsTheWindowsRuntimeRules) {
    // clang-format off
    const std::pair<const char*, Args> cases[] = {
        // Blanks and tabs separate, runs of them count once.
        {"tool  a\tb \t c", {"tool", "a", "b", "c"}}, {"", {}}, {" \t ", {}},
        {"   lead and trail   ", {"lead", "and", "trail"}},
        // Quotes group blanks and are removed; an unclosed one runs to the end of the line.
        {R"(bfish /i:"/home/ann/My Docs/a b.ue" /o:"/x y/z")",
         {"bfish", "/i:/home/ann/My Docs/a b.ue", "/o:/x y/z"}},
        {R"(a"b c"d e)", {"ab cd", "e"}}, {R"(x "open to the end)", {"x", "open to the end"}},
        // Empty quoted arguments are kept.
        {R"(tool "" next)", {"tool", "", "next"}}, {R"("")", {""}}, {R"(tool "")", {"tool", ""}},
        // Backslashes not before a quote are taken as they stand.
        {R"(a\b c\\d e\\\)", {R"(a\b)", R"(c\\d)", R"(e\\\)"}},
        // 2n backslashes and a quote: n backslashes, the quote groups.
        {R"("a\\" b)", {R"(a\)", "b"}}, {R"(x\\\\"y z")", {R"(x\\y z)"}},
        // 2n+1 backslashes and a quote: n backslashes and a literal quote.
        {R"(a\"b c)", {R"(a"b)", "c"}}, {R"("a\\\" b" c)", {R"(a\" b)", "c"}},
        // A doubled quote inside a quoted run is a literal quote.
        {R"("say ""hi""" x)", {R"(say "hi")", "x"}}};
    // clang-format on
    for (const auto& [line, args] : cases)
        EXPECT_EQ(SplitCommandLine(line), args) << line;
}

TEST(ChildProcessRun, ArgumentsAndInputArriveWholeTheExitCodeComesBackAndNoProgramNoStart) {
    TempHome home;
    ChildProcess child = RunProcess("/bin/sh -c \"printf '%s|' \\\"$@\\\" > '" + home.File("out") +
                                    "'; exit 7\" sh \"two words\" plain \"\" \"q\\\"uote\"");
    ASSERT_TRUE(child.IsStarted());
    child.Wait();
    EXPECT_EQ(child.ExitCode(), 7);
    EXPECT_EQ(home.Read("out"), "two words|plain||q\"uote|");
    // Without input given, standard input is /dev/null: "read" returns at once.
    child = RunProcess("/bin/sh -c \"read line; exit 3\"");
    while (IsProcessRunning(child))
        ::usleep(1000);
    EXPECT_EQ(child.ExitCode(), 3);
    EXPECT_EQ(child.Pid(), -1);
    // A missing or empty program does not start.
    for (const char* line : {"/nonexistent/tool /q", "tidevault-no-such-tool", "", "\"\" x"})
        EXPECT_FALSE(RunProcess(line).IsStarted()) << line;
    // The child reads its input whole and then its end.
    std::string full = std::string("pass word\n\"q\" /P:x") + '\0';
    full += std::string(kMaxChildInput - full.size(), 'z');
    for (const std::string& input : {std::string(), std::string("-"), full}) {
        ChildProcess child = RunProcess("/bin/sh -c \"cat > '" + home.File("in") + "'\"", input);
        ASSERT_TRUE(child.IsStarted());
        child.Wait();
        EXPECT_EQ(child.ExitCode(), 0);
        EXPECT_EQ(home.Read("in"), input);
    }
    // A child that never reads its input does no harm (no SIGPIPE, no wait).
    ChildProcess deaf = RunProcess("/bin/true", full);
    deaf.Wait();
    EXPECT_EQ(deaf.ExitCode(), 0);
    EXPECT_FALSE(RunProcess("/bin/true", full + "z").IsStarted());
    // A child still running is killed and reaped with its owner.
    pid_t pid = -1;
    {
        ChildProcess child = RunProcess("sleep 30");
        pid = child.Pid();
        ASSERT_GT(pid, 0);
        // A moved-to owner takes over the duty.
        ChildProcess owner = std::move(child);
        EXPECT_FALSE(child.IsRunning());
        EXPECT_TRUE(owner.IsRunning());
        EXPECT_FALSE(owner.Start("sleep 1")); // one process per object
    }
    // Reaped, not a zombie: the id is gone.
    EXPECT_TRUE(::kill(pid, 0) != 0 && errno == ESRCH);
    ChildProcess killed = RunProcess("sleep 30");
    killed.Kill();
    EXPECT_FALSE(killed.IsRunning());
    EXPECT_EQ(killed.ExitCode(), -1); // a signal, not an exit status
}
