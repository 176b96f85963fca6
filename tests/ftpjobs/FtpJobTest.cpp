#include "cli/CliProcess.h"
#include "ftp/FtpServers.h"
#include "jobs/JobListFile.h"
#include "platform/FileSystem.h"
#include "support/TempHome.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class FtpJob : public ::testing::TestWithParam<ServerKind> {
protected:
    void SetUp() override {
        START_SERVER(server, GetParam(), {served.Path(), "alice", password});
        ::mkdir(served.File("backup").c_str(), 0777);
        ::chmod(served.File("backup").c_str(), 0777);
        source.Write("docs/a.txt", "alpha");
        source.Write("docs/with blanks.txt", std::string(200000, 'w'));
        source.Write("docs/sub/b.bin", std::string(70000, '\x01'));
        source.Write("docs/empty.dat", "");
    }

    void WriteJob(bool incremental, bool zipped, bool isProtected) {
        home.Write("backups.ini",
                   "[Backups]\nRemote\n[Remote]\nStorage=FTP\nHostname=127.0.0.1\nPort=" +
                       std::to_string(server->Port()) +
                       "\nUser=alice\nPass=" + EncodeCharCodes(TransformPassword(password)) +
                       "\nPav=PASV\nDestination=/backup\nType=" + (incremental ? "INCR" : "FULL") +
                       "\nCompress=" + (zipped ? "ZIP" : "NOT") + "\nStatus=0\nProtected=" +
                       (isProtected ? EncodeCharCodes(TransformPassword("job pw")) : "") +
                       "\nArchived=yes\nSplit=0\nSchedule=0\nDir0001=" + source.File("docs") +
                       "\n");
    }

    CliResult Cli(std::vector<std::string> args) {
        args.insert(args.begin(), {"--home", home.Path()});
        return RunCliProcess(args);
    }

    TempHome home, source, served, restored;
    std::unique_ptr<ServerScript> server;
    const std::string password = "s3cret pw";
};

} // namespace

TEST_P(FtpJob, IncrementalBackupsAndARestoreRoundTripThroughTheServer) {
    WriteJob(true, true, false);
    CliResult first = Cli({"run", "Remote"});
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    EXPECT_NE(first.out.find("OK: Upload of file Remote.fs succeeded!"), std::string::npos);
    const std::string index1 = served.Read("backup/Remote.fs");
    EXPECT_EQ(std::count(index1.begin(), index1.end(), '\n'), 4);

    // A second run downloads the index and stores only what changed.
    source.Write("docs/a.txt", "ALPHA, rewritten");
    CliResult second = Cli({"run", "Remote"});
    ASSERT_EQ(second.status, 0) << second.out << second.err;
    const std::string index2 = served.Read("backup/Remote.fs");
    EXPECT_EQ(std::count(index2.begin(), index2.end(), '\n'), 5);
    EXPECT_EQ(index2.substr(0, index1.size()), index1);

    CliResult restore = Cli({"restore", "Remote", "--to", restored.Path()});
    ASSERT_EQ(restore.status, 0) << restore.out << restore.err;
    const std::string base = restored.Path() + source.File("docs");
    EXPECT_EQ(ReadTestFile(base + "/a.txt"), "ALPHA, rewritten");
    EXPECT_EQ(ReadTestFile(base + "/with blanks.txt"), std::string(200000, 'w'));
    EXPECT_EQ(ReadTestFile(base + "/sub/b.bin"), std::string(70000, '\x01'));
    EXPECT_TRUE(FileExists(base + "/empty.dat"));
}

TEST_P(FtpJob, ProtectedFullBackupIsEncryptedOnTheServerAndRestores) {
    WriteJob(false, false, true);
    CreateFolderPath(home.File("bin"));
    ::symlink((std::string(TIDEVAULT_BUILD_DIR) + "/bin/bfish").c_str(),
              home.File("bin/bfish").c_str());
    CliResult run = Cli({"run", "Remote"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(served.Read("backup/Remote.fs").find("fname="), std::string::npos);
    CliResult restore = Cli({"restore", "Remote", "--to", restored.Path()});
    ASSERT_EQ(restore.status, 0) << restore.out << restore.err;
    EXPECT_EQ(ReadTestFile(restored.Path() + source.File("docs/a.txt")), "alpha");
}

TEST_P(FtpJob, AnUnreachableServerFailsTheRunAndLosesNothing) {
    WriteJob(true, false, false);
    server.reset(); // nobody listens on that port any more
    CliResult run = Cli({"run", "Remote"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("FAIL: Can't download fs file to perform incremental backup!"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(source.Read("docs/a.txt"), "alpha");
    EXPECT_NE(home.Read("backups.ini").find("Status=2"), std::string::npos);
}

TEST_P(FtpJob, AnIndexTheServerWillNotHandOverStopsTheRunAndIsKept) {
    WriteJob(true, false, false);
    ASSERT_TRUE(CreateFolderPath(served.File("backup/Remote.fs/earlier")));
    CliResult run = Cli({"run", "Remote"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("The index of the earlier backups cannot be read: the download of "
                           "/backup/Remote.fs failed"),
              std::string::npos)
        << run.out;
    EXPECT_TRUE(FolderExists(served.File("backup/Remote.fs/earlier")));
    EXPECT_EQ(ListFileNames(served.File("backup")).size(), 0u); // no volume went up
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpJob,
                         ::testing::Values(ServerKind::Pyftpdlib, ServerKind::PureFtpd),
                         [](const auto& info) {
                             return info.param == ServerKind::Pyftpdlib ? "pyftpdlib" : "pureftpd";
                         });
