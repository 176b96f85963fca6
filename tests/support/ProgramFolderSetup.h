#pragma once
#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "engine/BackupRun.h"
#include "i18n/Catalogue.h"
#include "jobs/clsBackup.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolder.h"
#include "support/TempHome.h"
#include "support/TestHost.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

// No jobs, no run flags, the real clock and no program folder.
inline void ReleaseProgramFolder() {
    FlushLog(); // into this folder's log, not the next test's
    gBackups.clear();
    for (volatile bool* flag :
         {&gBackupRunning, &gAbort, &gPaused, &gSkipRequest, &gQuitting, &gRestoreHoldsStaging})
        *flag = false;
    SetClockOverride(std::nullopt);
    SetProgramFolder("");
}

// A program folder for runs and restores: English, no jobs, temp/, Languages/, bin/bfish.
inline void PrepareProgramFolder(const TempHome& home) {
    ReleaseProgramFolder();
    SetProgramFolder(home.Path());
    LoadMessageCatalogue("");
    gIniFile = home.File("backups.ini");
    CreateFolderPath(home.File("temp"));
    CreateFolderPath(home.File("bin"));
    ::symlink(TIDEVAULT_BUILD_DIR "/bin/bfish", home.File("bin/bfish").c_str());
    ::symlink(TIDEVAULT_SOURCE_DIR "/Languages", home.File("Languages").c_str());
}

// Such a program folder with a source tree, a destination, the test host and
// the clock at 2026-12-05 10:00:00; jobs are run by name as the scheduler does.
class RunFixture : public ::testing::Test {
protected:
    void SetUp() override {
        PrepareProgramFolder(home);
        SetClockOverride(At(10, 0));
    }
    void TearDown() override { ReleaseProgramFolder(); }

    static DateTime At(int hour, int minute, int second = 0) {
        return *DateTime::FromParts(2026, 12, 5, hour, minute, second);
    }
    void PutSource(const std::string& relative, const std::string& content,
                   std::int64_t writeTime = 1700000000) const {
        source.Write(relative, content);
        const struct timespec times[2] = {{writeTime, 0}, {writeTime, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, source.File(relative).c_str(), times, 0), 0) << relative;
    }

    // An archived full job of the sources below the source tree (folders end in "/").
    std::shared_ptr<clsBackup> AddJob(const std::string& name,
                                      const std::vector<std::string>& sources = {"docs/"}) {
        auto job = std::make_shared<clsBackup>();
        job->sName = name;
        job->sDestinationDir = destination.Path();
        job->archived = true;
        for (const std::string& entry : sources) {
            const bool folder = entry.back() == '/';
            const std::string path = source.File(entry.substr(0, entry.size() - folder));
            job->AddFile({.sPath = path, .bForD = folder, .dSize = folder ? 0.0 : FileSize(path)});
        }
        gBackups.push_back(job);
        return job;
    }
    std::shared_ptr<clsBackup> Run(const std::string& n) { return RunBackup(n), FindBackup(n); }
    std::vector<clsRestoreFileData> DestinationIndex(const std::string& name) const {
        std::vector<clsRestoreFileData> records;
        EXPECT_TRUE(LoadIndexRecords(destination.File(name + ".fs"), records)) << name;
        return records;
    }

    TempHome home, source, destination;
    TestHost host;
};
