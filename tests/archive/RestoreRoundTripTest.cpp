#include "engine/RestoreEngine.h"
#include "core/Globals.h"
#include "engine/BackupRun.h"
#include "i18n/Catalogue.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolder.h"
#include "support/ProgramFolderSetup.h"
#include "support/TempHome.h"
#include "support/TestHost.h"

#include "archive/ArchiveTestSupport.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace archive_test;

namespace {

DateTime At(int h, int mi, int s = 0) {
    return *DateTime::FromParts(2026, 12, 5, h, mi, s);
}

struct SourceFile {
    const char* name;
    mode_t mode;
};
// A read-only file, an executable, an empty one, text and incompressible data.
const SourceFile kFiles[] = {{"docs/a.txt", 0640},
                             {"docs/sub/big.bin", 0755},
                             {"docs/empty.dat", 0444},
                             {"docs/text.txt", 0600}};

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

bool AnyPartFileBelow(const std::string& root) {
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->path().filename().string().rfind(".tvrestore-", 0) == 0)
            return true;
    }
    return false;
}

class RestoreRoundTrip : public ::testing::Test {
protected:
    void SetUp() override {
        PrepareProgramFolder(home);
        SetClockOverride(At(10, 0));
        std::string text;
        for (int i = 0; i < 4000; ++i)
            text += "line " + std::to_string(i) + " of a text that compresses well\n";
        // Zeros at the end of a file are not written but must still count.
        original = {"alpha", PseudoRandomBytes(230000, 7) + std::string(70000, '\0'), "", text};
        for (std::size_t i = 0; i < 4; ++i)
            Put(i, original[i], 1700000000 + static_cast<std::int64_t>(i));
    }
    void TearDown() override {
        gBackups.clear();
        gRestoreList.clear();
        gRestoreJob.reset();
        SetClockOverride(std::nullopt);
        SetProgramFolder("");
    }

    void Put(std::size_t i, const std::string& content, std::int64_t mtime) {
        const std::string path = source.File(kFiles[i].name);
        ::chmod(path.c_str(), 0600);
        source.Write(kFiles[i].name, content);
        ASSERT_EQ(::chmod(path.c_str(), kFiles[i].mode), 0);
        const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        mtimes[i] = mtime;
    }

    std::shared_ptr<clsBackup> AddJob(const std::string& name, bool zipped, int split,
                                      bool incremental = false) {
        auto job = std::make_shared<clsBackup>();
        job->sName = name;
        job->sDestinationDir = destination.Path();
        job->archived = true;
        job->bZipped = zipped;
        job->splitSize = split;
        job->bIncremental = incremental;
        job->AddFile({.sPath = source.File("docs"), .bForD = 1});
        gBackups.push_back(job);
        return job;
    }

    RestoreResult RestoreAll(const std::string& name, const RestoreTarget& target) {
        std::string why;
        EXPECT_TRUE(LoadRestoreList(name, &why)) << why;
        if (!gRestoreJob)
            return {};
        return RestoreFiles(*gRestoreJob, gRestoreList, target);
    }

    // Every source file below `root` with its bytes, permissions and write time.
    void ExpectRestored(const std::string& root, const std::vector<std::string>& contents,
                        const std::vector<std::int64_t>& writeTimes) {
        for (std::size_t i = 0; i < 4; ++i) {
            SCOPED_TRACE(kFiles[i].name);
            const std::string path = root + source.File(kFiles[i].name);
            EXPECT_TRUE(ReadBytes(path) == contents[i]);
            struct stat restored {};
            ASSERT_EQ(::stat(path.c_str(), &restored), 0);
            EXPECT_EQ(restored.st_mode & 07777, kFiles[i].mode);
            EXPECT_EQ(restored.st_mtim.tv_sec, writeTimes[i]);
        }
        EXPECT_FALSE(AnyPartFileBelow(root.empty() ? source.Path() : root));
    }

    TempHome home;
    TempHome source;
    TempHome destination;
    TempHome chosen;
    TestHost host;
    std::vector<std::string> original;
    std::vector<std::int64_t> mtimes = std::vector<std::int64_t>(4);
};

} // namespace

TEST_F(RestoreRoundTrip, EveryArchiveKindRestoresByteForByteBelowAChosenFolder) {
    struct Kind {
        const char* name;
        bool zipped;
        int split;
        bool protect;
    };
    for (const Kind& kind :
         {Kind{"Plain", false, 0, false}, Kind{"Zipped", true, 0, false},
          Kind{"Split", false, 100000, false}, Kind{"Split-Zipped", true, 60000, false},
          Kind{"Safe", true, 100000, true}}) {
        SCOPED_TRACE(kind.name);
        auto job = AddJob(kind.name, kind.zipped, kind.split);
        job->Protected = kind.protect;
        job->password = "correct horse";
        RunBackup(kind.name);
        ASSERT_EQ(job->enumStatus, kStatusFinished);

        const std::string below = chosen.File(kind.name);
        host.boxes.clear();
        const RestoreResult result = RestoreAll(kind.name, RestoreTarget{below});
        EXPECT_EQ(result.selected, 4);
        EXPECT_EQ(result.restored, 4);
        ExpectRestored(below, original, mtimes);
        ASSERT_FALSE(host.boxes.empty());
        EXPECT_EQ(host.boxes.back().text, "4/4 files restored to " + below + "!");
        EXPECT_EQ(host.boxes.back().icon, MsgIcon::Information);
        const bool spans = std::any_of(gRestoreList.begin(), gRestoreList.end(),
                                       [](const auto& r) { return r.arcStart != r.arcEnd; });
        EXPECT_EQ(spans, kind.split > 0) << "the split jobs must really span volumes";
        EXPECT_FALSE(gBackupRunning);
    }
}

TEST_F(RestoreRoundTrip, OriginalFoldersGetTheirFilesBackReplacingWhatChanged) {
    AddJob("Docs", false, 0);
    RunBackup("Docs");
    const std::vector<std::int64_t> before = mtimes;
    // Longer, shorter and missing targets must all come back exactly.
    Put(0, std::string(100000, 'X'), 1800000000);
    Put(3, "short", 1800000000);
    ASSERT_TRUE(RemoveFile(source.File("docs/sub/big.bin")));
    ASSERT_EQ(::rmdir(source.File("docs/sub").c_str()), 0);

    const RestoreResult result = RestoreAll("Docs", RestoreTarget{});
    EXPECT_TRUE(result.AllRestored());
    ExpectRestored("", original, before);
    EXPECT_EQ(host.boxes.back().text, "4/4 files restored to !");
}

TEST_F(RestoreRoundTrip, IncrementalChainGivesTheNewestVersionOrTheOneOfAnEarlierSession) {
    AddJob("Inc", true, 100000, true);
    RunBackup("Inc");
    const std::string first = original[0];
    SetClockOverride(At(11, 0));
    Put(0, "alpha, second edition", 1700000500);
    RunBackup("Inc");
    ASSERT_TRUE(LoadRestoreList("Inc"));
    ASSERT_EQ(gRestoreList.size(), 5u);

    const RestoreSelection newest = SelectNewestVersions(gRestoreList, std::nullopt, {});
    ASSERT_EQ(newest.records.size(), 4u);
    EXPECT_TRUE(RestoreFiles(*gRestoreJob, newest.records, {chosen.File("new")}).AllRestored());
    std::vector<std::string> expected = original;
    expected[0] = "alpha, second edition";
    ExpectRestored(chosen.File("new"), expected, mtimes);

    const RestoreSelection earlier = SelectNewestVersions(gRestoreList, At(10, 30), {});
    EXPECT_TRUE(RestoreFiles(*gRestoreJob, earlier.records, {chosen.File("old")}).AllRestored());
    EXPECT_EQ(ReadBytes(chosen.File("old") + source.File("docs/a.txt")), first);

    // Both versions of one file chosen: the one chosen last wins, the other is not counted.
    const RestoreResult both = RestoreFiles(*gRestoreJob, gRestoreList, {chosen.File("both")});
    EXPECT_EQ(both.restored, 4);
    EXPECT_EQ(both.selected, 5);
    EXPECT_EQ(ReadBytes(chosen.File("both") + source.File("docs/a.txt")), "alpha, second edition");
}

TEST_F(RestoreRoundTrip, LoadRestoreListSaysWhyAnIndexCannotBeHad) {
    std::string why;
    EXPECT_FALSE(LoadRestoreList("Nobody", &why));
    EXPECT_EQ(why, "there is no job named \"Nobody\"");

    AddJob("Never", false, 0);
    EXPECT_FALSE(LoadRestoreList("Never", &why));
    EXPECT_NE(why.find("cannot be copied: No such file or directory"), std::string::npos) << why;

    auto safe = AddJob("Safe", false, 0);
    safe->Protected = true;
    safe->password = "right";
    RunBackup("Safe");
    safe->password = "wrong";
    EXPECT_FALSE(LoadRestoreList("Safe", &why));
    EXPECT_NE(why.find("the password is wrong"), std::string::npos) << why;
    EXPECT_TRUE(gRestoreList.empty());
    EXPECT_FALSE(FileExists(home.File("temp/Safe.fs"))); // nothing stale for a later look

    auto remote = AddJob("Remote", false, 0);
    remote->destFTP = true;
    host.boxes.clear();
    EXPECT_FALSE(LoadRestoreList("Remote", &why));
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Files were not stored locally. Proceed to download!");
    EXPECT_TRUE(Contains(host.activity, "Can't connect to ftp server!"));
}

TEST_F(RestoreRoundTrip, CancelStopsTheRestoreWithoutAHalfWrittenFile) {
    AddJob("Docs", false, 0);
    RunBackup("Docs");
    host.onYield = [&] {
        if (Contains(host.progress, "update:Restoring from [Docs vol: 0 ]"))
            gAbort = true;
    };
    const RestoreResult result = RestoreAll("Docs", RestoreTarget{chosen.Path()});
    EXPECT_TRUE(result.aborted);
    EXPECT_LT(result.restored, 4);
    EXPECT_FALSE(AnyPartFileBelow(chosen.Path()));
    EXPECT_TRUE(Contains(host.activity, "Restore of files aborted by user!"));
    EXPECT_FALSE(gBackupRunning);
}

TEST_F(RestoreRoundTrip, TheQuestionsChooseTheTargetAndGivingUpRestoresNothing) {
    AddJob("Docs", false, 0);
    RunBackup("Docs");
    ASSERT_TRUE(LoadRestoreList("Docs"));

    host.answers = {MsgAnswer::No};
    host.folderToPick = chosen.Path();
    EXPECT_TRUE(RestoreFiles(gRestoreList).AllRestored());
    ExpectRestored(chosen.Path(), original, mtimes);
    EXPECT_EQ(host.boxes[0].text, "Do you want to restore files to original folder?");

    // No folder picked, and no wish to pick one: nothing happens.
    host.boxes.clear();
    host.answers = {MsgAnswer::No, MsgAnswer::No};
    host.folderToPick.clear();
    const RestoreResult given = RestoreFiles(gRestoreList);
    EXPECT_TRUE(given.aborted);
    EXPECT_EQ(given.restored, 0);
    ASSERT_EQ(host.boxes.size(), 3u);
    EXPECT_EQ(host.boxes[2].text, "Restore of files aborted by user!");

    // A host that always says Yes to picking again is not asked forever.
    host.answers.clear();
    host.boxes.clear();
    EXPECT_TRUE(PickRestoreFolder() == std::nullopt);
    EXPECT_EQ(host.boxes.back().text, "Restore of files aborted by user!");
}
