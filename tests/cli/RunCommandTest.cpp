#include "cli/CliProcess.h"
#include "platform/FileSystem.h"
#include "platform/InstanceLock.h"
#include "support/TempHome.h"

#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::string JobList(const std::string& source, const std::string& destination) {
    return "[Backups]\nDocs\n[Docs]\nStorage=LOC\nDestination=" + destination +
           "\nType=FULL\nCompress=ZIP\nStatus=0\nArchived=yes\nSplit=0\nSchedule=0\nDir0001=" +
           source + "\n";
}

class RunCommand : public ::testing::Test {
protected:
    void SetUp() override {
        source.Write("a.txt", "alpha");
        source.Write("sub/b.txt", "beta");
        home.Write("backups.ini", JobList(source.Path(), destination.Path()));
    }
    TempHome home;
    TempHome source;
    TempHome destination;
};

} // namespace

TEST_F(RunCommand, RunsTheJobPrintsItsActivityAndExitsZero) {
    home.Write("temp/leftover.darc", "old staging file");
    const CliResult r = RunCliProcess({"--home", home.Path(), "run", "Docs"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("]-Backup of Docs finished succesfully!"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("*   Backup files stored:  2"), std::string::npos);
    EXPECT_TRUE(FileExists(destination.File("Docs.darc")));
    EXPECT_TRUE(FileExists(destination.File("Docs.fs")));
    EXPECT_FALSE(FileExists(home.File("temp/leftover.darc")));
    EXPECT_NE(home.Read("backups.ini").find("Status=1"), std::string::npos);
    EXPECT_NE(home.Read("logs/tidevault.log").find("finished succesfully!"), std::string::npos);
}

TEST_F(RunCommand, UnknownJobExitsOne) {
    const CliResult r = RunCliProcess({"--home", home.Path(), "run", "Nope"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Backup of Nope failed!"), std::string::npos);
}

TEST_F(RunCommand, AnotherProcessHoldingTheFolderMakesRunRefuseButNotList) {
    InstanceLock lock;
    ASSERT_TRUE(lock.Acquire(home.Path()));
    home.Write("temp/keep.txt", "must survive");
    const CliResult run = RunCliProcess({"--home", home.Path(), "run", "Docs"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("another Tidevault process"), std::string::npos) << run.err;
    EXPECT_EQ(home.Read("temp/keep.txt"), "must survive");
    EXPECT_FALSE(FileExists(destination.File("Docs.darc")));
    const CliResult daemon = RunCliProcess({"--home", home.Path(), "daemon"});
    EXPECT_EQ(daemon.status, 1);
    const CliResult list = RunCliProcess({"--home", home.Path(), "list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out.rfind("Docs\t", 0), 0u);
}

TEST_F(RunCommand, BrokenJobListRefusesToStart) {
    home.Write("backups.ini", "[Backups]\nDocs\n[Docs]\nStorage=LOC\nHostname=x\n");
    const CliResult r = RunCliProcess({"--home", home.Path(), "run", "Docs"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Could not initialize system variables! Quitting ..."), std::string::npos);
}

TEST_F(RunCommand, InterruptAbortsTheRunWithStateThree) {
    // A protected job whose encryption tool takes its time: the interrupt
    // arrives while the first file is being encrypted.
    home.Write("backups.ini",
               "[Backups]\nSlow\n[Slow]\nStorage=LOC\nDestination=" + destination.Path() +
                   "\nType=FULL\nCompress=NOT\nStatus=0\nProtected=1,2,3\n"
                   "Archived=no\nSplit=0\nSchedule=0\nDir0001=" +
                   source.Path() + "\n");
    home.Write("bin/bfish", "#!/bin/sh\nsleep 2\nexit 1\n");
    ::chmod(home.File("bin/bfish").c_str(), 0755);
    const pid_t pid = StartCliProcess({"--home", home.Path(), "run", "Slow"});
    ASSERT_GT(pid, 0);
    // Wait until the tool runs (the staged copy is renamed to .ue), then interrupt.
    for (int i = 0; i < 100; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        bool staged = false;
        std::error_code ec;
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(home.File("temp"), ec))
            staged = staged || entry.path().string().find(".ue") != std::string::npos;
        if (staged)
            break;
    }
    ::kill(pid, SIGINT);
    int wstatus = 0;
    ASSERT_EQ(::waitpid(pid, &wstatus, 0), pid);
    ASSERT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(WEXITSTATUS(wstatus), 3);
    EXPECT_NE(home.Read("backups.ini").find("Status=3"), std::string::npos);
    EXPECT_EQ(source.Read("a.txt"), "alpha");
}

TEST_F(RunCommand, DaemonStartsAJobInItsMinuteAndStopsCleanlyOnSigterm) {
    // A daily job due in the coming minute: the daemon must start it once.
    const std::time_t due = std::time(nullptr) + 60;
    std::tm local{};
    ::localtime_r(&due, &local);
    char hhmm[8];
    std::strftime(hhmm, sizeof hhmm, "%H%M", &local);
    home.Write("backups.ini",
               "[Backups]\nDaily\n[Daily]\nStorage=LOC\nDestination=" + destination.Path() +
                   "\nType=FULL\nCompress=NOT\nStatus=0\nArchived=yes\nSplit=0\n"
                   "Schedule=2,202601010000,127," +
                   hhmm + "\nDir0001=" + source.Path() + "\n");
    const pid_t pid = StartCliProcess({"--home", home.Path(), "daemon"});
    ASSERT_GT(pid, 0);
    const auto finished = [&] {
        return ReadTestFile(home.File("logs/tidevault.log")).find("finished succesfully!") !=
               std::string::npos;
    };
    for (int i = 0; i < 900 && !finished(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // A few more ticks of the same minute must not start it again.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    ::kill(pid, SIGTERM);
    int wstatus = 0;
    ASSERT_EQ(::waitpid(pid, &wstatus, 0), pid);
    ASSERT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(WEXITSTATUS(wstatus), 0);
    EXPECT_TRUE(FileExists(destination.File("Daily.darc")));
    EXPECT_NE(home.Read("backups.ini").find("Status=1"), std::string::npos);
    const std::string log = home.Read("logs/tidevault.log");
    EXPECT_NE(log.find("Backup of Daily finished succesfully!"), std::string::npos);
    EXPECT_EQ(log.find("Backup of Daily finished succesfully!"),
              log.rfind("Backup of Daily finished succesfully!"));
    EXPECT_NE(log.find("]-Program closed!"), std::string::npos);
}
