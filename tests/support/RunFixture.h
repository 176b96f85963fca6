#pragma once
#include "archive/ArchiveIndex.h"
#include "jobs/clsBackup.h"
#include "support/TempHome.h"
#include "support/TestHost.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

// A program folder ready for runs, a source tree, a destination folder, the
// test host and the clock pinned at 2026-12-05 10:00:00. Jobs are added to the
// job list by name and run as the scheduler would run them.
class RunFixture : public ::testing::Test {
protected:
    struct JobOptions {
        bool archived = true;
        bool incremental = false;
        bool zipped = false;
        std::int32_t split = 0;
        std::string password;                     // a protected job when not empty
        std::vector<std::string> sources{"docs"}; // below the source tree; folders end in "/"
    };

    void SetUp() override;
    void TearDown() override;

    static DateTime At(int hour, int minute, int second = 0); // on 2026-12-05
    static void SetWriteTime(const std::string& path, std::int64_t unixSeconds);

    // The four files every run test starts with, written at a fixed time:
    // docs/a.txt, docs/sub/b.txt (300000 bytes), docs/empty.dat, notes.txt.
    void PutSourceFiles();
    void PutSource(const std::string& relative, const std::string& content,
                   std::int64_t writeTime = 1700000000);

    std::shared_ptr<clsBackup> AddJob(const std::string& name, const JobOptions& options);
    // Runs the job and gives back the listed job (the run's results are in it).
    std::shared_ptr<clsBackup> Run(const std::string& name);

    bool Logged(const std::string& text) const;
    bool ShowedProgress(const std::string& text) const;
    std::vector<clsRestoreFileData> DestinationIndex(const std::string& name) const;
    std::vector<std::string> SessionStamps(const std::string& name) const;

    TempHome home;
    TempHome source;
    TempHome destination;
    TestHost host;
};
