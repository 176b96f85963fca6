#include "engine/BackupRun.h"
#include "core/Globals.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "support/RunFixture.h"

#include <functional>
#include <new>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

class BackupRun : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        PutSourceFiles();
    }
    JobOptions Plain() { return {.archived = false, .sources = {"docs/", "notes.txt"}}; }
    JobOptions Incremental() { return {.incremental = true, .sources = {"docs/", "notes.txt"}}; }
    std::string Mirrored(const std::string& relative) {
        return destination.Read(source.File(relative).substr(1));
    }
};

} // namespace

TEST_F(BackupRun, PlainCopyMirrorsTheSourceTreeAndRecordsSuccess) {
    AddJob("Docs", Plain());
    const auto job = Run("Docs");
    EXPECT_EQ(job->enumStatus, kStatusFinished);
    EXPECT_EQ(job->lastOK, At(10, 0));
    EXPECT_EQ(job->ttlsize, 5 + 300000 + 0 + 18);
    EXPECT_EQ(Mirrored("docs/sub/b.txt"), std::string(300000, 'b'));
    EXPECT_EQ(Mirrored("notes.txt"), "single file source");
    struct stat st {};
    ASSERT_EQ(::stat(destination.File(source.File("docs/a.txt").substr(1)).c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1700000000); // times travel with the copy
    for (const char* line :
         {"*   Backup files stored:  4", "*   Not stored:   0", "*   Total backup files count: 4",
          "Backup of Docs finished succesfully!"})
        EXPECT_TRUE(Logged(line)) << line;
    EXPECT_NE(host.statusTexts.back().find("Backup Docs terminated normally at "),
              std::string::npos);
    EXPECT_EQ(host.timerStates, (std::vector<bool>{false, true}));
    EXPECT_NE(home.Read("backups.ini").find("Status=1"), std::string::npos);
    EXPECT_FALSE(gBackupRunning);
}

TEST_F(BackupRun, RefusedStartsChangeNoJobAndTouchNoTimer) {
    const auto job = AddJob("Docs", Plain());
    const struct {
        const char* name;
        std::function<void()> situation;
        const char* logged;
    } cases[] = {
        {"docs", [] {}, "Backup of docs failed!"},
        {"Docs", [] { gBackupRunning = true; }, "Backup process pending!"},
        {"Docs", [] { gRestoreHoldsStaging = true; }, "a restore is using the staging folder"},
    };
    for (const auto& c : cases) {
        host.activity.clear();
        c.situation();
        RunBackup(c.name);
        EXPECT_TRUE(Logged(c.logged)) << c.logged;
        EXPECT_EQ(job->enumStatus, kStatusNeverRun) << c.logged;
        gBackupRunning = false;
        gRestoreHoldsStaging = false;
    }
    EXPECT_TRUE(ListFileNames(destination.Path()).empty());
    EXPECT_EQ(host.timerStates, (std::vector<bool>{false, true})); // the unknown name's run only
}

TEST_F(BackupRun, ArchivedJobNamedAfterAFolderOfTheProgramFolderDeliversIntoTheDestination) {
    // The staging folder's path holds "<name>/", which once steered delivery into a subfolder.
    const std::string name = FileNameOf(home.Path());
    AddJob(name, {.sources = {"docs/", "notes.txt"}});
    EXPECT_EQ(Run(name)->enumStatus, kStatusFinished);
    EXPECT_TRUE(FileExists(destination.File(name + ".darc")));
    EXPECT_EQ(DestinationIndex(name).size(), 4u);
    EXPECT_EQ(ListFileNames(destination.Path()).size(), 2u);
    EXPECT_TRUE(ListFileNames(home.File("temp")).empty());
    EXPECT_TRUE(Logged("4-4"));
    EXPECT_TRUE(Logged("*   Backup files stored:  2"));
}

TEST_F(BackupRun, IncrementalRunsStoreOnlyNewAndRewrittenFilesAndAppendSessions) {
    AddJob("Inc", Incremental());
    ASSERT_EQ(Run("Inc")->enumStatus, kStatusFinished); // no index yet: everything
    EXPECT_TRUE(FileExists(destination.File("Inc202612051000.darc")));
    ASSERT_EQ(DestinationIndex("Inc").size(), 4u);

    SetClockOverride(At(11, 0));
    host.activity.clear();
    EXPECT_EQ(Run("Inc")->enumStatus, kStatusFinished);
    EXPECT_TRUE(Logged("No files were found for backup!"));
    EXPECT_EQ(DestinationIndex("Inc").size(), 4u);

    // Same size, new write time; and a new file.
    PutSource("docs/a.txt", "ALPHA", 1700000500);
    PutSource("docs/new.txt", "brand new");
    SetClockOverride(At(12, 0));
    EXPECT_EQ(Run("Inc")->enumStatus, kStatusFinished);
    const auto records = DestinationIndex("Inc");
    ASSERT_EQ(records.size(), 6u);
    EXPECT_EQ(records[4].arcStart, "Inc202612051200");
    std::vector<std::string> stored{records[4].fname, records[5].fname};
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(stored,
              (std::vector<std::string>{source.File("docs/a.txt"), source.File("docs/new.txt")}));
    EXPECT_EQ(SessionStamps("Inc"), (std::vector<std::string>{"20261205100000", "20261205120000"}));
}

TEST_F(BackupRun, RunsWithinOneSecondGetTheirOwnVolumeAndSessionStamp) {
    AddJob("Inc", Incremental());
    Run("Inc");
    const std::string first = destination.Read("Inc202612051000.darc");
    PutSource("docs/new.txt", "later that second");
    EXPECT_EQ(Run("Inc")->enumStatus, kStatusFinished);
    EXPECT_EQ(destination.Read("Inc202612051000.darc"), first);
    EXPECT_EQ(DestinationIndex("Inc").back().arcStart, "Inc202612051001");
    EXPECT_EQ(SessionStamps("Inc"), (std::vector<std::string>{"20261205100000", "20261205100001"}));
}

TEST_F(BackupRun, ProtectedArchiveIsEncryptedAndItsIndexStillDrivesIncrementalRuns) {
    JobOptions options = Incremental();
    options.password = "correct horse";
    AddJob("Safe", options);
    ASSERT_EQ(Run("Safe")->enumStatus, kStatusFinished);
    EXPECT_EQ(destination.Read("Safe.fs").find("fname="), std::string::npos);
    EXPECT_EQ(source.Read("notes.txt"), "single file source");
    SetClockOverride(At(11, 0));
    host.activity.clear();
    EXPECT_EQ(Run("Safe")->enumStatus, kStatusFinished);
    EXPECT_TRUE(Logged("No files were found for backup!"));
}

TEST_F(BackupRun, AnIndexThatCannotBeReadStopsTheRunAndStaysAsItWas) {
    const struct {
        const char* situation;
        std::function<void(clsBackup&)> spoil;
        const char* cause;
    } cases[] = {
        {"password changed",
         [](clsBackup& job) {
             job.Protected = true;
             job.password = "old";
             RunBackup(job.sName);
             job.password = "new";
         },
         "cannot be decrypted"},
        {"folder in its place",
         [&](clsBackup& job) { CreateFolderPath(destination.File(job.sName + ".fs/x")); },
         "cannot be copied"},
    };
    for (const auto& c : cases) {
        const auto job = AddJob(c.situation, Incremental());
        c.spoil(*job);
        const std::string before = destination.Read(job->sName + ".fs");
        const std::size_t files = ListFileNames(destination.Path()).size();
        PutSource("docs/a.txt", "changed", 1700000900);
        host.activity.clear();
        EXPECT_EQ(Run(job->sName)->enumStatus, kStatusFailed) << c.situation;
        EXPECT_TRUE(Logged("The index of the earlier backups cannot be read")) << c.situation;
        EXPECT_TRUE(Logged(c.cause)) << c.situation;
        EXPECT_EQ(destination.Read(job->sName + ".fs"), before) << c.situation;
        EXPECT_EQ(ListFileNames(destination.Path()).size(), files) << c.situation;
        EXPECT_TRUE(ListFileNames(home.File("temp")).empty()) << c.situation;
    }
}

TEST_F(BackupRun, AStagingFolderThatCannotTakeTheArchiveFailsTheRun) {
    // A folder in the way of the volume, then of the index.
    for (const char* blocked : {"Inc202612051000.darc", "Inc.fs"}) {
        CreateFolderPath(home.File("temp/") + blocked);
        AddJob("Inc", Incremental());
        host.activity.clear();
        EXPECT_EQ(Run("Inc")->enumStatus, kStatusFailed) << blocked;
        EXPECT_TRUE(Logged("The staging folder " + home.File("temp"))) << blocked;
        EXPECT_FALSE(FileExists(destination.File("Inc.fs"))) << blocked;
        ::rmdir(home.File("temp/" + std::string(blocked)).c_str());
        gBackups.clear();
    }
}

TEST_F(BackupRun, NamesTheIndexCannotHoldAreReportedAndCountAsNotStored) {
    for (const char* odd : {"docs/bar|in name", "docs/line\nbreak", "docs/carriage\rreturn"})
        PutSource(odd, "odd");
    AddJob("Odd", {.sources = {"docs/"}});
    EXPECT_EQ(Run("Odd")->enumStatus, kStatusFailed);
    EXPECT_TRUE(Logged(source.File("docs/line\\nbreak") + " is not stored: its name holds"));
    EXPECT_TRUE(Logged("*   Not stored:   3"));
    EXPECT_EQ(DestinationIndex("Odd").size(), 3u); // the three ordinary files
}

TEST_F(BackupRun, ARuntimeErrorEndsTheRunAsFailedAndFreesTheScheduler) {
    const struct {
        const char* what;
        std::function<void()> raise;
    } cases[] = {{"std::runtime_error", [] { throw std::runtime_error("boom"); }},
                 {"std::bad_alloc", [] { throw std::bad_alloc(); }}};
    for (const auto& c : cases) {
        gBackups.clear();
        AddJob("Docs", Plain());
        host.timerStates.clear();
        host.onYield = [&] {
            if (ShowedProgress("Copy files to destination")) {
                host.onYield = nullptr;
                c.raise();
            }
        };
        RunBackup("Docs");
        EXPECT_EQ(FindBackup("Docs")->enumStatus, kStatusFailed) << c.what;
        EXPECT_FALSE(gBackupRunning) << c.what;
        EXPECT_EQ(host.timerStates, (std::vector<bool>{false, true})) << c.what;
        EXPECT_TRUE(Logged("Backup of Docs failed!")) << c.what;
        EXPECT_NE(home.Read("backups.ini").find("Status=2"), std::string::npos) << c.what;
    }
}

TEST_F(BackupRun, TheRunWorksOnItsOwnCopyAndReportsToTheJobOfItsName) {
    auto listed = AddJob("Docs", Plain());
    TempHome elsewhere;
    host.onYield = [&] {
        // An editor changes the job while it runs, then a window replaces it.
        if (host.statusTexts.empty())
            return;
        listed->sDestinationDir = elsewhere.Path();
        listed->Files.clear();
        gBackups[0] = std::make_shared<clsBackup>(*listed);
        host.onYield = nullptr;
    };
    RunBackup("Docs");
    EXPECT_EQ(Mirrored("notes.txt"), "single file source");
    EXPECT_TRUE(ListFileNames(elsewhere.Path()).empty());
    EXPECT_EQ(gBackups[0]->enumStatus, kStatusFinished);
    EXPECT_EQ(gBackups[0]->sDestinationDir, elsewhere.Path());
}

TEST_F(BackupRun, ProtectedPlainCopyEncryptsTheDeliveredCopyNeverTheSource) {
    JobOptions options = Plain();
    options.password = "pw";
    AddJob("SafeCopy", options);
    ASSERT_EQ(Run("SafeCopy")->enumStatus, kStatusFinished);
    EXPECT_EQ(source.Read("docs/a.txt"), "alpha");
    EXPECT_NE(Mirrored("docs/a.txt"), "alpha");
    EXPECT_GT(Mirrored("docs/a.txt").size(), 5u);
}

TEST_F(BackupRun, CancelDuringDeliveryEndsAborted) {
    AddJob("Docs", Plain());
    host.onYield = [&] {
        if (ShowedProgress("Copy files to destination"))
            gAbort = true;
    };
    EXPECT_EQ(Run("Docs")->enumStatus, kStatusAborted);
    EXPECT_EQ(host.statusTexts.back(), "Backup aborted by user!");
    EXPECT_FALSE(gBackupRunning);
    EXPECT_EQ(host.timerStates.back(), true);
}

TEST_F(BackupRun, AFailedCopyIsCountedAndFailsTheRun) {
    AddJob("Docs", Plain())->AddFile({.sPath = source.File("missing.txt"), .bForD = 0});
    EXPECT_EQ(Run("Docs")->enumStatus, kStatusFailed);
    EXPECT_TRUE(Logged("*   Not stored:   1"));
    EXPECT_TRUE(Logged("Backup of Docs failed!"));
}

TEST_F(BackupRun, NoFilesIsAFinishedRun) {
    CreateFolderPath(source.File("nothing"));
    AddJob("Empty", {.archived = false, .sources = {"nothing/"}});
    const auto job = Run("Empty");
    EXPECT_EQ(job->enumStatus, kStatusFinished);
    EXPECT_EQ(job->lastOK, At(10, 0));
    EXPECT_TRUE(Logged("No files were found for backup!"));
}

TEST_F(BackupRun, FullDestinationFailsTheRunAndCountsWhatDidNotFit) {
    TempHome small;
    if (::mount("tmpfs", small.Path().c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    AddJob("Big", Plain())->sDestinationDir = small.Path() + "/dest";
    const auto job = Run("Big");
    ::umount(small.Path().c_str());
    EXPECT_EQ(job->enumStatus, kStatusFailed);
    EXPECT_TRUE(Logged("Backup media is full! Cannot continue!"));
    EXPECT_FALSE(Logged("*   Not stored:   0"));
    ASSERT_FALSE(host.boxes.empty());
    EXPECT_EQ(host.boxes.front().icon, MsgIcon::Critical);
}
