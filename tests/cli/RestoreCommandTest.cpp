#include "cli/CliProcess.h"
#include "platform/FileSystem.h"
#include "platform/InstanceLock.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

std::string JobList(const std::string& source, const std::string& destination) {
    return "[Backups]\nDocs\n[Docs]\nStorage=LOC\nDestination=" + destination +
           "\nType=INCR\nCompress=ZIP\nStatus=0\nArchived=yes\nSplit=0\nSchedule=0\nDir0001=" +
           source + "\n";
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class RestoreCommand : public ::testing::Test {
protected:
    void SetUp() override {
        source.Write("a.txt", "alpha");
        source.Write("sub/b.txt", "beta");
        ::chmod(source.File("sub/b.txt").c_str(), 0751);
        home.Write("backups.ini", JobList(source.Path(), destination.Path()));
        const CliResult run = Cli({"run", "Docs"});
        ASSERT_EQ(run.status, 0) << run.out << run.err;
    }

    CliResult Cli(std::vector<std::string> args) {
        args.insert(args.begin(), {"--home", home.Path()});
        return RunCliProcess(args);
    }

    TempHome home;
    TempHome source;
    TempHome destination;
    TempHome target;
};

} // namespace

TEST_F(RestoreCommand, SessionsListsEachSessionWithItsFilesAndVolumes) {
    const CliResult r = Cli({"sessions", "Docs"});
    EXPECT_EQ(r.status, 0) << r.err;
    // One session line (14 digits, the date, the count), then the files.
    const std::string session = r.out.substr(0, r.out.find('\t'));
    EXPECT_EQ(session.size(), 14u) << r.out;
    EXPECT_EQ(session.find_first_not_of("0123456789"), std::string::npos) << r.out;
    EXPECT_TRUE(Has(r.out, "\t2 files\n")) << r.out;
    // Name, size and the volume, named after the minute of the run.
    for (const auto& [file, size] : {std::pair{"a.txt", "5"}, std::pair{"sub/b.txt", "4"}}) {
        const std::size_t at = r.out.find("\n\t" + source.File(file) + "\t" + size + "\tDocs");
        ASSERT_NE(at, std::string::npos) << r.out;
        const std::string line = r.out.substr(at + 1, r.out.find('\n', at + 1) - at - 1);
        EXPECT_EQ(line.size() - line.rfind("\tDocs"), 4 + 12 + 6u) << line;
        EXPECT_EQ(line.substr(line.size() - 5), ".darc") << line;
    }

    const CliResult unknown = Cli({"sessions", "Nope"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_TRUE(Has(unknown.err, "the index of job \"Nope\" cannot be read: there is no job"));
    ASSERT_TRUE(RemoveFile(destination.File("Docs.fs")));
    const CliResult missing = Cli({"sessions", "Docs"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(Has(missing.err, "No such file or directory")) << missing.err;
}

TEST_F(RestoreCommand, RestoreRebuildsTheTreeBelowToOrInPlace) {
    CliResult r = Cli({"restore", "Docs", "--to", target.Path()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(target.Read(source.Path().substr(1) + "/a.txt"), "alpha");
    EXPECT_EQ(target.Read(source.Path().substr(1) + "/sub/b.txt"), "beta");
    struct stat st {};
    ASSERT_EQ(::stat(target.File(source.Path().substr(1) + "/sub/b.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_TRUE(Has(r.err, "2/2 files restored to " + target.Path() + "!")) << r.err;

    // Without --to the originals are replaced.
    source.Write("a.txt", "changed, and longer than before");
    r = Cli({"restore", "Docs"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(source.Read("a.txt"), "alpha");
}

TEST_F(RestoreCommand, PathsAndSessionsNarrowWhatIsRestored) {
    const CliResult r = Cli({"restore", "Docs", "--session", "29991231235959", "--to",
                             target.Path(), source.File("sub") + "/"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(FileExists(target.File(source.Path().substr(1) + "/sub/b.txt")));
    EXPECT_FALSE(FileExists(target.File(source.Path().substr(1) + "/a.txt")));

    // Nothing stored that early, or at that name: nothing restored, exit 1.
    const CliResult early = Cli({"restore", "Docs", "--session", "20000101000000"});
    EXPECT_EQ(early.status, 1);
    EXPECT_TRUE(Has(early.err, "No files were selected to restore!")) << early.err;
    const CliResult unknownPath =
        Cli({"restore", "Docs", "--to", target.Path(), source.File("a.txt"), "/not/stored"});
    EXPECT_EQ(unknownPath.status, 1);
    EXPECT_TRUE(Has(unknownPath.err, "nothing stored matches /not/stored")) << unknownPath.err;
}

TEST_F(RestoreCommand, BadArgumentsExitTwoAndFailuresExitOne) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"restore"},
                                                 {"restore", "Docs", "--session", "2024"},
                                                 {"restore", "Docs", "--to"},
                                                 {"restore", "Docs", "--bogus"},
                                                 {"sessions"}}) {
        const CliResult r = Cli(args);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_TRUE(Has(r.err, "usage: tidevault-cli")) << r.err;
    }

    InstanceLock lock;
    ASSERT_TRUE(lock.Acquire(home.Path()));
    EXPECT_EQ(Cli({"restore", "Docs", "--to", target.Path()}).status, 1);
    EXPECT_EQ(Cli({"sessions", "Docs"}).status, 1);
    lock.Release();

    // A lost volume: the file is reported and the command fails.
    for (const std::string& name : ListFileNames(destination.Path())) {
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".darc") == 0)
            RemoveFile(destination.File(name));
    }
    const CliResult r = Cli({"restore", "Docs", "--to", target.Path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "archive restore!")) << r.err;
    EXPECT_TRUE(Has(r.err, "0/2 files restored")) << r.err;
}
