#include "engine/BackupRun.h"
#include "archive/ArchiveIndex.h"
#include "core/Globals.h"
#include "i18n/Catalogue.h"
#include "jobs/JobListFile.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolder.h"
#include "support/ProgramFolderSetup.h"
#include "support/TempHome.h"
#include "support/TestHost.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

DateTime At(int y, int mo, int d, int h, int mi, int s = 0) {
    return *DateTime::FromParts(y, mo, d, h, mi, s);
}

void SetMtime(const std::string& path, std::int64_t seconds) {
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

class BackupRun : public ::testing::Test {
protected:
    void SetUp() override {
        PrepareProgramFolder(home);
        SetClockOverride(At(2026, 12, 5, 10, 0, 0));
        source.Write("docs/a.txt", "alpha");
        source.Write("docs/sub/b.txt", std::string(300000, 'b'));
        source.Write("docs/empty.dat", "");
        source.Write("notes.txt", "single file source");
        for (const char* f : {"docs/a.txt", "docs/sub/b.txt", "docs/empty.dat", "notes.txt"})
            SetMtime(source.File(f), 1700000000);
    }
    void TearDown() override { ReleaseProgramFolder(); }

    std::shared_ptr<clsBackup> AddJob(const std::string& name, bool archived, bool incremental) {
        auto job = std::make_shared<clsBackup>();
        job->sName = name;
        job->sDestinationDir = destination.Path();
        job->archived = archived;
        job->bIncremental = incremental;
        job->AddFile({.sPath = source.File("docs"), .bForD = 1});
        job->AddFile({.sPath = source.File("notes.txt"), .bForD = 0, .dSize = 18});
        gBackups.push_back(job);
        return job;
    }

    std::vector<clsRestoreFileData> DestinationIndex(const std::string& name) {
        std::vector<clsRestoreFileData> records;
        EXPECT_TRUE(LoadIndexRecords(destination.File(name + ".fs"), records));
        return records;
    }

    TempHome home;
    TempHome source;
    TempHome destination;
    TestHost host;
};

} // namespace

TEST_F(BackupRun, PlainCopyMirrorsTheSourceTreeAndRecordsSuccess) {
    auto job = AddJob("Docs", false, false);
    RunBackup("Docs");
    EXPECT_EQ(job->enumStatus, kStatusFinished);
    EXPECT_EQ(job->lastOK, At(2026, 12, 5, 10, 0, 0));
    EXPECT_EQ(job->ttlsize, 5 + 300000 + 0 + 18);
    EXPECT_EQ(destination.Read(source.Path().substr(1) + "/docs/sub/b.txt"),
              std::string(300000, 'b'));
    EXPECT_EQ(destination.Read(source.Path().substr(1) + "/notes.txt"), "single file source");
    struct stat st {};
    ASSERT_EQ(::stat(destination.File(source.Path().substr(1) + "/docs/a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1700000000); // times travel with the copy
    EXPECT_TRUE(Contains(host.activity, "*   Backup files stored:  4"));
    EXPECT_TRUE(Contains(host.activity, "*   Not stored:   0"));
    EXPECT_TRUE(Contains(host.activity, "*   Total backup files count: 4"));
    EXPECT_TRUE(Contains(host.activity, "Backup of Docs finished succesfully!"));
    EXPECT_TRUE(Contains(host.statusTexts, "Backup Docs terminated normally at "));
    EXPECT_EQ(host.timerStates.front(), false);
    EXPECT_EQ(host.timerStates.back(), true);
    // The job list was saved with the result.
    EXPECT_NE(home.Read("backups.ini").find("Status=1"), std::string::npos);
    EXPECT_FALSE(gBackupRunning);
}

TEST_F(BackupRun, UnknownNameAndSecondRunChangeNoJob) {
    auto job = AddJob("Docs", false, false);
    RunBackup("docs");
    EXPECT_TRUE(Contains(host.activity, "Backup of docs failed!"));
    EXPECT_EQ(job->enumStatus, kStatusNeverRun);
    gBackupRunning = true;
    host.activity.clear();
    RunBackup("Docs");
    EXPECT_EQ(host.activity.size(), 1u);
    EXPECT_TRUE(Contains(host.activity, "Backup process pending!"));
    EXPECT_EQ(job->enumStatus, kStatusNeverRun);
    gBackupRunning = false;
}

TEST_F(BackupRun, ArchivedFullRunDeliversVolumeAndIndexAndEmptiesStaging) {
    auto job = AddJob("Daily", true, false);
    RunBackup("Daily");
    EXPECT_EQ(job->enumStatus, kStatusFinished);
    EXPECT_TRUE(FileExists(destination.File("Daily.darc")));
    const auto records = DestinationIndex("Daily");
    ASSERT_EQ(records.size(), 4u);
    EXPECT_TRUE(ListFileNames(home.File("temp")).empty());
    EXPECT_TRUE(Contains(host.activity, "4-4"));
    EXPECT_TRUE(Contains(host.activity, "*   Backup files stored:  2"));
}

TEST_F(BackupRun, IncrementalRunsStoreOnlyNewAndRewrittenFilesAndAppendSessions) {
    auto job = AddJob("Inc", true, true);
    RunBackup("Inc");
    ASSERT_EQ(job->enumStatus, kStatusFinished);
    EXPECT_TRUE(FileExists(destination.File("Inc202612051000.darc")));
    ASSERT_EQ(DestinationIndex("Inc").size(), 4u);

    // Nothing changed: nothing to store, still a finished run.
    SetClockOverride(At(2026, 12, 5, 11, 0, 0));
    host.activity.clear();
    RunBackup("Inc");
    EXPECT_EQ(job->enumStatus, kStatusFinished);
    EXPECT_TRUE(Contains(host.activity, "No files were found for backup!"));
    EXPECT_EQ(DestinationIndex("Inc").size(), 4u);

    // One file rewritten (same size, new write time), one new file.
    source.Write("docs/a.txt", "ALPHA");
    SetMtime(source.File("docs/a.txt"), 1700000500);
    source.Write("docs/new.txt", "brand new");
    SetClockOverride(At(2026, 12, 5, 12, 0, 0));
    RunBackup("Inc");
    EXPECT_EQ(job->enumStatus, kStatusFinished);
    const auto records = DestinationIndex("Inc");
    ASSERT_EQ(records.size(), 6u);
    EXPECT_EQ(records[4].arcStart, "Inc202612051200");
    std::vector<std::string> stored{records[4].fname, records[5].fname};
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(stored,
              (std::vector<std::string>{source.File("docs/a.txt"), source.File("docs/new.txt")}));
    EXPECT_NE(records[0].dSession, records[4].dSession);
    EXPECT_TRUE(FileExists(destination.File("Inc202612051000.darc")));
}

TEST_F(BackupRun, TwoIncrementalRunsInOneMinuteNeverShareAVolumeName) {
    auto job = AddJob("Inc", true, true);
    RunBackup("Inc");
    const std::string first = destination.Read("Inc202612051000.darc");
    source.Write("docs/new.txt", "later that minute");
    SetClockOverride(At(2026, 12, 5, 10, 0, 40));
    RunBackup("Inc");
    EXPECT_EQ(job->enumStatus, kStatusFinished);
    EXPECT_EQ(destination.Read("Inc202612051000.darc"), first);
    EXPECT_TRUE(FileExists(destination.File("Inc202612051001.darc")));
    EXPECT_EQ(DestinationIndex("Inc").back().arcStart, "Inc202612051001");
}

TEST_F(BackupRun, ProtectedArchiveIsEncryptedAndItsIndexStillDrivesIncrementalRuns) {
    auto job = AddJob("Safe", true, true);
    job->Protected = true;
    job->password = "correct horse";
    RunBackup("Safe");
    ASSERT_EQ(job->enumStatus, kStatusFinished);
    const std::string index = destination.Read("Safe.fs");
    EXPECT_EQ(index.find("fname="), std::string::npos); // not readable without the password
    EXPECT_EQ(source.Read("notes.txt"), "single file source");
    // The next incremental run decrypts the previous index to compare.
    SetClockOverride(At(2026, 12, 5, 11, 0, 0));
    host.activity.clear();
    RunBackup("Safe");
    EXPECT_EQ(job->enumStatus, kStatusFinished);
    EXPECT_TRUE(Contains(host.activity, "No files were found for backup!"));
}

TEST_F(BackupRun, ProtectedPlainCopyEncryptsTheDeliveredCopyNeverTheSource) {
    auto job = AddJob("SafeCopy", false, false);
    job->Protected = true;
    job->password = "pw";
    RunBackup("SafeCopy");
    ASSERT_EQ(job->enumStatus, kStatusFinished);
    EXPECT_EQ(source.Read("docs/a.txt"), "alpha");
    const std::string delivered = destination.Read(source.Path().substr(1) + "/docs/a.txt");
    EXPECT_NE(delivered, "alpha");
    EXPECT_GT(delivered.size(), 5u);
}

TEST_F(BackupRun, CancelDuringDeliveryEndsAborted) {
    auto job = AddJob("Docs", false, false);
    host.onYield = [&] {
        if (Contains(host.progress, "Copy files to destination"))
            gAbort = true;
    };
    RunBackup("Docs");
    EXPECT_EQ(job->enumStatus, kStatusAborted);
    EXPECT_TRUE(Contains(host.statusTexts, "Backup aborted by user!"));
    EXPECT_FALSE(gBackupRunning);
    EXPECT_EQ(host.timerStates.back(), true);
}

TEST_F(BackupRun, AFailedCopyIsCountedAndFailsTheRun) {
    auto job = AddJob("Docs", false, false);
    job->AddFile({.sPath = source.File("missing.txt"), .bForD = 0});
    RunBackup("Docs");
    EXPECT_EQ(job->enumStatus, kStatusFailed);
    EXPECT_TRUE(Contains(host.activity, "*   Not stored:   1"));
    EXPECT_TRUE(Contains(host.activity, "Backup of Docs failed!"));
}

TEST_F(BackupRun, NoFilesIsAFinishedRun) {
    auto job = std::make_shared<clsBackup>();
    job->sName = "Empty";
    job->sDestinationDir = destination.Path();
    CreateFolderPath(source.File("nothing"));
    job->AddFile({.sPath = source.File("nothing"), .bForD = 1});
    gBackups.push_back(job);
    RunBackup("Empty");
    EXPECT_EQ(job->enumStatus, kStatusFinished);
    EXPECT_EQ(job->lastOK, At(2026, 12, 5, 10, 0, 0));
    EXPECT_TRUE(Contains(host.activity, "No files were found for backup!"));
}

TEST_F(BackupRun, FullDestinationFailsTheRunAndCountsWhatDidNotFit) {
    TempHome small;
    if (::mount("tmpfs", small.Path().c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    auto job = AddJob("Big", false, false);
    job->sDestinationDir = small.Path() + "/dest";
    RunBackup("Big");
    ::umount(small.Path().c_str());
    EXPECT_EQ(job->enumStatus, kStatusFailed);
    EXPECT_TRUE(Contains(host.activity, "Backup media is full! Cannot continue!"));
    EXPECT_FALSE(Contains(host.activity, "*   Not stored:   0"));
    ASSERT_FALSE(host.boxes.empty());
    EXPECT_EQ(host.boxes.front().icon, MsgIcon::Critical);
}
