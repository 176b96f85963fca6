#include "engine/BackupRun.h"
#include "core/Globals.h"
#include "core/RunControl.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "support/ProgramFolderSetup.h"

#include <array>
#include <functional>
#include <new>
#include <set>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

class BackupRun : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        PutSource("docs/a.txt", "alpha");
        PutSource("docs/sub/b.txt", std::string(300000, 'b'));
        PutSource("docs/empty.dat", "");
        PutSource("notes.txt", "single file source");
    }
    std::shared_ptr<clsBackup> Plain(const std::string& name) {
        auto job = AddJob(name, {"docs/", "notes.txt"});
        job->archived = false;
        return job;
    }
    std::shared_ptr<clsBackup> Incremental(const std::string& name) {
        auto job = AddJob(name, {"docs/", "notes.txt"});
        job->bIncremental = true;
        return job;
    }
    std::string Mirrored(const std::string& relative) {
        return destination.Read(source.File(relative).substr(1));
    }
};

} // namespace

TEST_F(BackupRun, PlainCopyMirrorsTheSourceTreeAndRecordsSuccess) {
    Plain("Docs");
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
        EXPECT_TRUE(host.Logged(line)) << line;
    EXPECT_NE(host.statusTexts.back().find("Backup Docs terminated normally at "),
              std::string::npos);
    EXPECT_NE(home.Read("backups.ini").find("Status=1"), std::string::npos);
    EXPECT_FALSE(gBackupRunning);
}

TEST_F(BackupRun, RefusedStartsChangeNoJobAndTouchNoTimer) {
    const auto job = Plain("Docs");
    const struct {
        const char* name;
        std::function<void()> situation;
        const char* logged;
    } cases[] = {
        {"docs", [] {}, "Backup of docs failed!"},
        {"Docs", [] { gRestoreHoldsStaging = true; }, "a restore is using the staging folder"},
    };
    for (const auto& c : cases) {
        host.activity.clear();
        c.situation();
        RunBackup(c.name);
        EXPECT_TRUE(host.Logged(c.logged)) << c.logged;
        EXPECT_EQ(job->enumStatus, kStatusNeverRun) << c.logged;
        gBackupRunning = false;
        gRestoreHoldsStaging = false;
    }
    EXPECT_TRUE(ListFileNames(destination.Path()).empty());
    EXPECT_EQ(host.timerStates, (std::vector<bool>{false, true})); // the unknown name's run only
}

TEST_F(BackupRun, IncrementalRunsStoreOnlyNewAndRewrittenFilesAndAppendSessions) {
    Incremental("Inc");
    ASSERT_EQ(Run("Inc")->enumStatus, kStatusFinished); // no index yet: everything
    const std::string first = destination.Read("Inc202612051000.darc");
    ASSERT_EQ(DestinationIndex("Inc").size(), 4u);

    // Within the same second: a volume and session stamp of its own.
    PutSource("docs/new.txt", "later that second");
    EXPECT_EQ(Run("Inc")->enumStatus, kStatusFinished);
    EXPECT_EQ(destination.Read("Inc202612051000.darc"), first);
    EXPECT_EQ(DestinationIndex("Inc").back().arcStart, "Inc202612051001");

    SetClockOverride(At(11, 0));
    host.activity.clear();
    EXPECT_EQ(Run("Inc")->enumStatus, kStatusFinished);
    EXPECT_TRUE(host.Logged("No files were found for backup!"));
    EXPECT_EQ(DestinationIndex("Inc").size(), 5u);

    // Same size, new write time; and a new file.
    PutSource("docs/a.txt", "ALPHA", 1700000500);
    PutSource("docs/newer.txt", "brand new");
    SetClockOverride(At(12, 0));
    EXPECT_EQ(Run("Inc")->enumStatus, kStatusFinished);
    const auto records = DestinationIndex("Inc");
    ASSERT_EQ(records.size(), 7u);
    EXPECT_EQ(records[5].arcStart, "Inc202612051200");
    std::vector<std::string> stored{records[5].fname, records[6].fname};
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(stored,
              (std::vector<std::string>{source.File("docs/a.txt"), source.File("docs/newer.txt")}));
    std::set<std::string> stamps;
    for (const clsRestoreFileData& r : records)
        stamps.insert(r.dSession.Format("yyyyMMddHHmmss"));
    EXPECT_EQ(stamps,
              (std::set<std::string>{"20261205100000", "20261205100001", "20261205120000"}));
}

// A folder in the way of the staged volume or index, or of the earlier index
// (a changed password is the other index that cannot be read: see EarlierIndex).
TEST_F(BackupRun, AnIndexOrStagingThatCannotBeUsedFailsTheRunAndDeliversNothing) {
    const std::string staging = "The staging folder " + home.File("temp");
    const std::array<std::array<std::string, 3>, 3> cases = {
        {{home.File("temp/Inc202612051000.darc"), staging, staging},
         {home.File("temp/Inc.fs"), staging, staging},
         {destination.File("Inc.fs/x"), "The index of the earlier backups cannot be read",
          "cannot be copied"}}};
    for (const auto& [blocked, cause, detail] : cases) {
        SCOPED_TRACE(blocked);
        CreateFolderPath(blocked);
        Incremental("Inc");
        host.activity.clear();
        EXPECT_EQ(Run("Inc")->enumStatus, kStatusFailed);
        EXPECT_TRUE(host.Logged(cause) && host.Logged(detail));
        EXPECT_TRUE(ListFileNames(destination.Path()).empty() && FolderExists(blocked));
        EXPECT_TRUE(ListFileNames(home.File("temp")).empty());
        ::rmdir(blocked.c_str());
        gBackups.clear();
    }
}

TEST_F(BackupRun, NamesTheIndexCannotHoldAreReportedAndCountAsNotStored) {
    for (const char* odd : {"docs/bar|in name", "docs/line\nbreak", "docs/carriage\rreturn"})
        PutSource(odd, "odd");
    // The staging folder's path holds "<name>/" for a job named after the
    // program folder, which once steered delivery into a subfolder.
    const std::string name = FileNameOf(home.Path());
    AddJob(name);
    EXPECT_EQ(Run(name)->enumStatus, kStatusFailed);
    EXPECT_TRUE(host.Logged(source.File("docs/line\\nbreak") + " is not stored: its name holds"));
    EXPECT_TRUE(host.Logged("*   Not stored:   3"));
    EXPECT_EQ(DestinationIndex(name).size(), 3u); // the three ordinary files
    const std::vector<std::string> delivered = ListFileNames(destination.Path());
    EXPECT_EQ(std::set<std::string>(delivered.begin(), delivered.end()),
              (std::set<std::string>{name + ".darc", name + ".fs"}));
    EXPECT_TRUE(ListFileNames(home.File("temp")).empty());
}

TEST_F(BackupRun, ARuntimeErrorEndsTheRunAsFailedAndFreesTheScheduler) {
    const struct {
        const char* what;
        std::function<void()> raise;
    } cases[] = {{"std::runtime_error", [] { throw std::runtime_error("boom"); }},
                 {"std::bad_alloc", [] { throw std::bad_alloc(); }}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        gBackups.clear();
        Plain("Docs");
        host.timerStates.clear();
        host.onYield = [&] {
            if (host.ShowedProgress("Copy files to destination")) {
                host.onYield = nullptr;
                c.raise();
            }
        };
        RunBackup("Docs");
        EXPECT_EQ(FindBackup("Docs")->enumStatus, kStatusFailed);
        EXPECT_FALSE(gBackupRunning);
        EXPECT_EQ(host.timerStates, (std::vector<bool>{false, true}));
        EXPECT_TRUE(host.Logged("Backup of Docs failed!"));
        EXPECT_NE(home.Read("backups.ini").find("Status=2"), std::string::npos);
    }
}

// A protected plain copy: the delivered copy is encrypted, never the source.
TEST_F(BackupRun, TheRunWorksOnItsOwnCopyAndReportsToTheJobOfItsName) {
    auto listed = Plain("Docs");
    listed->Protected = true;
    listed->password = "pw";
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
    EXPECT_EQ(source.Read("notes.txt"), "single file source");
    EXPECT_GT(Mirrored("notes.txt").size(), 18u); // encrypted, so no longer the text
    EXPECT_TRUE(ListFileNames(elsewhere.Path()).empty());
    EXPECT_EQ(gBackups[0]->enumStatus, kStatusFinished);
    EXPECT_EQ(gBackups[0]->sDestinationDir, elsewhere.Path());
}

TEST_F(BackupRun, ACancelledRunCountsAsRunningUntilItHasReturned) {
    Plain("Docs");
    Plain("Other");
    bool activeWhileUnwinding = false;
    host.onYield = [&] {
        if (!host.ShowedProgress("Copy files to destination"))
            return;
        host.onYield = nullptr;
        RequestCancel();
        RunBackup("Other"); // a timer tick while the run unwinds
        activeWhileUnwinding = IsRunActive();
    };
    EXPECT_EQ(Run("Docs")->enumStatus, kStatusAborted);
    EXPECT_EQ(host.statusTexts.back(), "Backup aborted by user!");
    EXPECT_TRUE(host.Logged("Backup process pending!"));
    EXPECT_EQ(FindBackup("Other")->enumStatus, kStatusNeverRun);
    EXPECT_TRUE(activeWhileUnwinding);
    EXPECT_FALSE(IsRunActive());
    EXPECT_EQ(host.timerStates, (std::vector<bool>{false, true}));
}

// A copy that fails fails the run; no files at all is a finished run.
TEST_F(BackupRun, AFailedCopyIsCountedAndFailsTheRunNoFilesFinishesIt) {
    Plain("Docs")->AddFile({.sPath = source.File("missing.txt"), .bForD = 0});
    EXPECT_EQ(Run("Docs")->enumStatus, kStatusFailed);
    EXPECT_TRUE(host.Logged("*   Not stored:   1"));
    EXPECT_TRUE(host.Logged("Backup of Docs failed!"));
    CreateFolderPath(source.File("nothing"));
    AddJob("Empty", {"nothing/"})->archived = false;
    EXPECT_EQ(Run("Empty")->enumStatus, kStatusFinished);
    EXPECT_EQ(FindBackup("Empty")->lastOK, At(10, 0));
    EXPECT_TRUE(host.Logged("No files were found for backup!"));
}

TEST_F(BackupRun, FullDestinationFailsTheRunAndCountsWhatDidNotFit) {
    TempHome small;
    if (::mount("tmpfs", small.Path().c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    Plain("Big")->sDestinationDir = small.Path() + "/dest";
    const auto job = Run("Big");
    ::umount(small.Path().c_str());
    EXPECT_EQ(job->enumStatus, kStatusFailed);
    EXPECT_TRUE(host.Logged("Backup media is full! Cannot continue!"));
    EXPECT_FALSE(host.Logged("*   Not stored:   0"));
    ASSERT_FALSE(host.boxes.empty());
    EXPECT_EQ(host.boxes.front().icon, MsgIcon::Critical);
}
