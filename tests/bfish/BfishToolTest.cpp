// Runs the built bfish executable as the backup program does: as a separate process with the
// command line already split into arguments.

#include "bfish/BfishTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace bfish {
namespace {

using test::RandomBytes;
using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

struct ToolRun {
    int exitCode = -1; // -1 when the tool did not exit normally
    std::string errors;
};

class BfishTool : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder.Valid()); }

    // `fileSizeLimit` > 0 makes every write beyond that size fail as on a full disk.
    ToolRun Run(const std::vector<std::string>& args, std::int64_t fileSizeLimit = 0) {
        const std::string errorsPath = errorsFolder / "stderr";
        std::vector<std::string> all = {BFISH_EXE};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);

        const pid_t child = ::fork();
        if (child == 0) {
            const int errors = ::open(errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (errors < 0 || ::dup2(errors, STDERR_FILENO) < 0) {
                ::_exit(127);
            }
            if (fileSizeLimit > 0) {
                const rlimit limit{static_cast<rlim_t>(fileSizeLimit),
                                   static_cast<rlim_t>(fileSizeLimit)};
                ::signal(SIGXFSZ, SIG_IGN); // write() then fails with EFBIG
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ToolRun run;
        int status = 0;
        if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
            run.exitCode = WEXITSTATUS(status);
        }
        run.errors = ReadFile(errorsPath);
        return run;
    }

    TempFolder folder;
    TempFolder errorsFolder;
};

TEST_F(BfishTool, EncryptsAndDecryptsInPlaceThroughPathsWithBlanks) {
    ASSERT_EQ(::mkdir((folder / "my documents").c_str(), 0700), 0);
    const std::string file = folder / "my documents/annual report.txt";
    const std::string plain = RandomBytes(300000, 11);
    WriteFile(file, plain);

    // The backup program renames F to F.ue, lets the tool write F, then deletes F.ue.
    ASSERT_EQ(::rename(file.c_str(), (file + ".ue").c_str()), 0);
    ToolRun run = Run({"/i:" + file + ".ue", "/o:" + file, "/P:my", "long", "secret", "/e", "/q"});
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(ReadFile(file).substr(0, 4), "TVBF");
    EXPECT_EQ(ReadFile(file + ".ue"), plain);
    ASSERT_EQ(::unlink((file + ".ue").c_str()), 0);

    // The password arrives whole in one argument this time: same key.
    ASSERT_EQ(::rename(file.c_str(), (file + ".ue").c_str()), 0);
    run = Run({"/q", "/d", "/o:" + file, "/i:" + file + ".ue", "/P:my long secret"});
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(ReadFile(file), plain);
}

TEST_F(BfishTool, WrongPasswordExitsWithOneAndSaysSoOnOneLine) {
    WriteFile(folder / "plain", "payload");
    ASSERT_EQ(Run({"/i:" + folder / "plain", "/o:" + folder / "sealed", "/P:right", "/e"}).exitCode,
              0);
    WriteFile(folder / "out", "previous");

    const ToolRun run =
        Run({"/i:" + folder / "sealed", "/o:" + folder / "out", "/P:wrong", "/d", "/q"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.errors.rfind("bfish: wrong password", 0), 0u) << run.errors;
    EXPECT_EQ(run.errors.find('\n'), run.errors.size() - 1) << "exactly one line";
    EXPECT_EQ(ReadFile(folder / "out"), "previous");
}

TEST_F(BfishTool, UsageErrorsExitWithTwo) {
    const std::vector<std::vector<std::string>> lines = {
        {},
        {"/e"},
        {"/i:a", "/o:b", "/P:p"},
        {"/i:a", "/o:b", "/P:p", "/e", "/d"},
        {"/i:a", "/P:p", "/d"},
    };
    for (const auto& line : lines) {
        const ToolRun run = Run(line);
        EXPECT_EQ(run.exitCode, 2) << run.errors;
        EXPECT_NE(run.errors.find("usage: bfish"), std::string::npos) << run.errors;
    }
}

TEST_F(BfishTool, FullDiskLeavesTheOutputAsItWas) {
    WriteFile(folder / "big", RandomBytes(1024 * 1024, 12));
    WriteFile(folder / "out", "older content");

    const ToolRun run =
        Run({"/i:" + folder / "big", "/o:" + folder / "out", "/P:pw", "/e", "/q"}, 100000);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.errors.find("cannot write"), std::string::npos) << run.errors;
    EXPECT_EQ(ReadFile(folder / "out"), "older content");
    EXPECT_EQ(folder.Names(), (std::set<std::string>{"big", "out"}));
}

} // namespace
} // namespace bfish
