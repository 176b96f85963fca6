#include "cli/CliProcess.h"
#include "platform/FileSystem.h"
#include "platform/InstanceLock.h"

#include <arpa/inet.h>
#include <ctime>
#include <regex>
#include <signal.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

TEST_F(CliTest, ListShowsTheMainWindowColumnsAsAtTheGivenMoment) {
    const std::string jobs =
        "[Backups]\nHourly\nNightly\nRemote\n[Hourly]\nDestination=/backup/hourly\nCompress=ZIP\n"
        "Status=1\nOKLast=202612050930\nSchedule=1,202601010000,015\n[Nightly]\nType=INCR\n"
        "Destination=/backup/nightly\nStatus=2\nSchedule=2,202601010000,127,2130\n[Remote]\n"
        "Storage=FTP\nHostname=nas.local\nPort=21\nDestination=/srv/backup\nSchedule=0\n";
    home.Write("backups.ini", jobs);
    const std::string expected =
        "Hourly\tFull(Compressed)\tTomorrow at 0:15\t12/05/26 09:30:00\t/backup/hourly\t1\n"
        "Nightly\tIncremental\tSunday, Dec 06 at 21:30\tNever\t/backup/nightly\t2\n"
        "Remote\tFull\tNot scheduled\tNever\tftp://nas.local:21/srv/backup\t0\n";
    for (const CliResult& r :
         {Cli({"list", "--at", "2026-12-05 23:50"}),
          CliProcess({"list", "--at", "2026-12-05 23:50"}, {"TIDEVAULT_HOME=" + home.Path()})
              .Wait()}) {
        EXPECT_EQ(std::to_string(r.status) + r.out, "0" + expected) << r.err;
    }
    // list neither prepares the staging folder nor rewrites anything.
    EXPECT_FALSE(FolderExists(home.File("temp")));
    EXPECT_EQ(home.Read("backups.ini"), jobs);
    home.Write("settings.ini", "[Backup\\General Settings]\nLanguage=german\n");
    home.Write("Languages/german.lng", "[msgStrings]\nstrMsgNotSched=Nicht geplant\n");
    EXPECT_TRUE(Has(Cli({"list"}).out, "Remote\tFull\tNicht geplant\t"));
    ASSERT_TRUE(RemoveFile(home.File("backups.ini")));
    const CliResult none = Cli({"list"});
    EXPECT_EQ(std::to_string(none.status) + none.out, "0");
}

TEST_F(CliTest, EachCommandSaysWhatKeepsItFromStartingAndUsageErrorsExitTwo) {
    // clang-format off
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"frobnicate"},
            {"list", "--at", "tomorrow"}, {"run"}, {"sessions"}, {"daemon", "now"}, {"restore"},
            {"restore", "Docs", "--session", "2024"}, {"restore", "Docs", "--to"},
            {"restore", "Docs", "--bogus"}, {"verify"}, {"verify", "Docs", "--session", "2024"}}) {
        // clang-format on
        const CliResult r = Cli(args);
        EXPECT_EQ(r.status, 2) << args.size();
        EXPECT_TRUE(Has(r.err, "usage: tidevault-cli")) << r.err;
    }
    const std::vector<std::vector<std::string>> folderCommands = {
        {"list"},           {"run", "Docs"}, {"sessions", "Docs"}, {"restore", "Docs"},
        {"verify", "Docs"}, {"daemon"}};
    const std::string broken = JobList("home/ann", "");
    const std::string cannotLoad = "Could not initialize system variables! Quitting ...\n"
                                   "Backup \"home/ann\" in the job list: A backup name cannot "
                                   "hold \"/\"!\n";
    const std::string missing = home.File("no/such/folder");
    home.Write("backups.ini", broken);
    for (auto command : folderCommands) {
        EXPECT_EQ(Cli(command).err, cannotLoad) << command[0];
        command.insert(command.begin(), {"--home", missing});
        const CliResult r = CliProcess(command).Wait();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "tidevault-cli: The program folder " + missing + " does not exist!\n");
    }
    EXPECT_EQ(home.Read("backups.ini"), broken);
    EXPECT_FALSE(FileExists(home.File("backups.ini.bak")));
    // Another process holds the folder: only list, which takes no lock, goes on.
    InstanceLock lock;
    ASSERT_TRUE(lock.Acquire(home.Path()));
    home.Write("temp/keep.txt", "must survive");
    for (const auto& command : folderCommands) {
        const CliResult r = Cli(command);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, command[0] == "list"
                             ? cannotLoad
                             : "tidevault-cli: Another Tidevault process is using the program "
                               "folder " +
                                   home.Path() + "; try again when it has finished.\n");
    }
    EXPECT_EQ(home.Read("temp/keep.txt"), "must survive");
}

TEST_F(CliTest, CtrlCEndsEveryCommandWithStatusThree) {
    // The encryption tool takes its time: the interrupt arrives while it
    // encrypts the first file.
    home.Write("backups.ini", JobList("Slow", "Protected=1,2,3\n"));
    home.Write("bin/bfish", "#!/bin/sh\ntouch \"$0.busy\"\nsleep 2\nexit 1\n");
    ::chmod(home.File("bin/bfish").c_str(), 0755);
    CliProcess run({"--home", home.Path(), "run", "Slow"});
    for (int i = 0; i < 100 && !FileExists(home.File("bin/bfish.busy")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    run.Signal(SIGINT);
    EXPECT_EQ(run.Wait().status, 3);
    EXPECT_TRUE(Has(home.Read("backups.ini"), "Status=3"));
    // Outside a run: fetching an index from a server that never answers (the
    // kernel accepts, no greeting comes).
    const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    ::bind(silent, reinterpret_cast<sockaddr*>(&address), size), ::listen(silent, 4);
    ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &size);
    home.Write("backups.ini",
               "[Backups]\nRemote\n[Remote]\nStorage=FTP\nHostname=127.0.0.1\nPort=" +
                   std::to_string(ntohs(address.sin_port)) + "\nDestination=/b\nArchived=yes\n");
    for (const char* command : {"sessions", "restore", "verify"}) {
        CliProcess cli({"--home", home.Path(), command, "Remote"});
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cli.Signal(SIGINT);
        const CliResult r = cli.Wait();
        EXPECT_EQ(r.status, 3) << command << ": " << r.err;
        EXPECT_TRUE(r.err.ends_with("tidevault-cli: Stopped by the user!\n")) << r.err;
        EXPECT_TRUE(ListFileNames(home.File("temp")).empty());
    }
    ::close(silent);
}

TEST_F(CliTest, RunSessionsAndRestoreBelowToOrInPlaceNarrowedBySessionAndPaths) {
    home.Write("temp/leftover.darc", "old staging file"); // cleared before the run
    CliResult r = Cli({"run", "Docs"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "]-Backup of Docs finished succesfully!")) << r.out;
    EXPECT_FALSE(FileExists(home.File("temp/leftover.darc")));
    TempHome target; // a restore below it puts a source file at
    const auto below = [&](const std::string& file) {
        return target.File(source.Path().substr(1) + "/" + file);
    };
    const auto fails = [&](const std::vector<std::string>& args, const std::string& says) {
        const CliResult f = Cli(args);
        EXPECT_EQ(f.status, 1) << f.err;
        EXPECT_TRUE(Has(f.err, says)) << f.err;
    };
    r = Cli({"sessions", "Docs"});
    EXPECT_EQ(r.status, 0) << r.err;
    // One session line (its stamp, its date, the count), then each file with
    // its size and its volume, named after the minute of the run.
    EXPECT_TRUE(std::regex_search(r.out, std::regex("^[0-9]{14}\t[-0-9: ]{19}\t2 files\n")));
    for (const char* fileAndSize : {"a.txt\t5", "sub/b.txt\t4"})
        EXPECT_TRUE(std::regex_search(
            r.out, std::regex("\n\t" + source.File(fileAndSize) + "\tDocs[0-9]{12}\\.darc\n")))
            << r.out;
    fails({"sessions", "Nope"}, "The index of job \"Nope\" cannot be read: there is no job");
    EXPECT_EQ(Cli({"run", "Nope"}).status, 1);
    r = Cli({"restore", "Docs", "--session", "29991231235959", "--to", target.Path(),
             source.File("sub") + "/"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadTestFile(below("sub/b.txt")), "beta");
    EXPECT_FALSE(FileExists(below("a.txt")));
    r = Cli({"restore", "Docs", "--to", target.Path()});
    EXPECT_EQ(ReadTestFile(below("a.txt")), "alpha");
    EXPECT_TRUE(Has(r.err, "2/2 files restored to " + target.Path() + "!")) << r.err;
    // Without --to the originals are replaced.
    source.Write("a.txt", "changed, and longer than before");
    EXPECT_EQ(Cli({"restore", "Docs"}).status, 0);
    EXPECT_EQ(source.Read("a.txt"), "alpha");
    // Nothing stored that early, or at that name, or a lost volume: exit 1.
    fails({"restore", "Docs", "--session", "20000101000000"}, "No files were selected to restore!");
    fails({"restore", "Docs", "--to", target.Path(), source.File("a.txt"), "/not/stored"},
          "nothing stored matches /not/stored");
    for (const std::string& name : ListFileNames(destination.Path()))
        if (name.ends_with(".darc"))
            RemoveFile(destination.File(name));
    fails({"restore", "Docs", "--to", target.Path()}, "0/2 files restored");
    // A line with an impossible block size: the rest is shown, the status says damaged.
    std::string index = destination.Read("Docs.fs");
    index.replace(index.find("RecSize=") + 8, 3, "0");
    destination.Write("Docs.fs", index);
    const CliResult damaged = Cli({"sessions", "Docs"});
    EXPECT_EQ(damaged.status, 1);
    EXPECT_TRUE(Has(damaged.out, "\t1 file\n")) << damaged.out;
    EXPECT_TRUE(Has(damaged.out + damaged.err, "block size 0 is impossible")) << damaged.err;
}

TEST_F(CliTest, DaemonFollowsHandEditsRunsAJobInItsMinuteAndWritesBackOnlyItsResult) {
    const std::string other = "[Other]\n; set up by hand\nDestination=/nowhere\n";
    home.Write("backups.ini", "[Backups]\nOther\n" + other);
    CliProcess daemon({"--home", home.Path(), "daemon"});
    const auto LogShows = [&](const std::string& text, int seconds) {
        for (int i = 0; i < seconds * 10 && !Has(home.Read("logs/tidevault.log"), text); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return Has(home.Read("logs/tidevault.log"), text);
    };
    ASSERT_TRUE(LogShows("]-1 backup items loaded!", 10));
    // An edit that cannot be loaded is logged and left as it is.
    const std::string damaged = "[Backups]\nOther\nhome/ann\n" + other;
    home.Write("backups.ini", damaged);
    EXPECT_TRUE(LogShows("The changed job list cannot be loaded, the backups loaded before "
                         "are kept: Backup \"home/ann\"",
                         5));
    EXPECT_EQ(home.Read("backups.ini"), damaged);
    // A job added by hand, due in the minute that starts 10 to 70 seconds
    // from now: loaded, then run once.
    const std::time_t due = std::time(nullptr) + 70;
    char hhmm[8];
    std::strftime(hhmm, sizeof hhmm, "%H%M", std::localtime(&due));
    const std::string daily =
        JobList("Daily", "Archived=yes\nSchedule=2,202601010000,127," + std::string(hhmm) + "\n");
    const std::string edited =
        "[Backups]\nOther\nDaily\n" + other + daily.substr(daily.find("[Daily]"));
    home.Write("backups.ini", edited);
    EXPECT_TRUE(LogShows("]-The job list has changed: 2 backup items loaded!", 5));
    ASSERT_TRUE(LogShows("Backup of Daily finished succesfully!", 90));
    // A few more ticks of the same minute must not start it again.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    daemon.Signal(SIGTERM);
    EXPECT_EQ(daemon.Wait().status, 0);
    const std::string log = home.Read("logs/tidevault.log");
    EXPECT_EQ(log.find("Backup of Daily finished"), log.rfind("Backup of Daily finished"));
    EXPECT_TRUE(Has(log, "]-Program closed!"));
    // The file as edited, with the run's state and last success added.
    const std::string now = home.Read("backups.ini");
    EXPECT_EQ(now.substr(0, edited.size()), edited);
    EXPECT_TRUE(
        std::regex_match(now.substr(edited.size()), std::regex("Status=1\nOKLast=20[0-9]{10}\n")))
        << now;
}
