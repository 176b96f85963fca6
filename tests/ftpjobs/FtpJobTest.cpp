#include "cli/CliProcess.h"
#include "ftp/FtpServers.h"
#include "jobs/JobListFile.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <sys/stat.h>

namespace {

// One job "Remote" saving source/docs to /backup on a real server.
class FtpJob : public CliTest, public ::testing::WithParamInterface<ServerKind> {
protected:
    void SetUp() override {
        START_SERVER(server, GetParam(), served.Path());
        ::mkdir(served.File("backup").c_str(), 0777);
        ::chmod(served.File("backup").c_str(), 0777);
        source.Write("docs/a.txt", "alpha");
        source.Write("docs/with blanks.txt", std::string(200000, 'w'));
        source.Write("docs/sub/b.bin", std::string(70000, '\x01'));
        source.Write("docs/empty.dat", "");
    }

    void WriteJob(const std::string& keys) {
        const std::string pass = EncodeCharCodes(TransformPassword(kPassword));
        home.Write("backups.ini",
                   "[Backups]\nRemote\n[Remote]\nStorage=FTP\nHostname=127.0.0.1\nPort=" +
                       std::to_string(server->Port()) + "\nUser=alice\nPass=" + pass +
                       "\nPav=PASV\nDestination=/backup\nStatus=0\nArchived=yes\n" + keys +
                       "Dir0001=" + source.File("docs") + "\n");
    }
    std::string Restored(const std::string& relative) const {
        return ReadTestFile(restored.Path() + source.File("docs/" + relative));
    }

    TempHome served, restored;
    std::unique_ptr<ServerScript> server;
};

} // namespace

TEST_P(FtpJob, IncrementalBackupsAndARestoreRoundTripThroughTheServer) {
    WriteJob("Type=INCR\nCompress=ZIP\n");
    CliResult first = Cli({"run", "Remote"});
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    EXPECT_TRUE(Has(first.out, "OK: Upload of file Remote.fs succeeded!"));
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
    EXPECT_EQ(Restored("a.txt"), "ALPHA, rewritten");
    EXPECT_EQ(Restored("with blanks.txt"), std::string(200000, 'w'));
    EXPECT_EQ(Restored("sub/b.bin"), std::string(70000, '\x01'));
    EXPECT_TRUE(FileExists(restored.Path() + source.File("docs/empty.dat")));
}

TEST_P(FtpJob, ProtectedFullBackupIsEncryptedOnTheServerAndRestores) {
    WriteJob("Type=FULL\nCompress=NOT\nProtected=" + EncodeCharCodes(TransformPassword("job pw")) +
             "\n");
    CreateFolderPath(home.File("bin"));
    ::symlink(TIDEVAULT_BUILD_DIR "/bin/bfish", home.File("bin/bfish").c_str());
    CliResult run = Cli({"run", "Remote"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_FALSE(Has(served.Read("backup/Remote.fs"), "fname="));
    CliResult restore = Cli({"restore", "Remote", "--to", restored.Path()});
    ASSERT_EQ(restore.status, 0) << restore.out << restore.err;
    EXPECT_EQ(Restored("a.txt"), "alpha");
    // verify downloads and decrypts each volume into staging, and clears it after.
    const CliResult whole = Cli({"verify", "Remote"});
    EXPECT_TRUE(Has(whole.out, "(files: 4, volumes: 1): every file is intact.")) << whole.out;
    ASSERT_TRUE(RemoveFile(served.File("backup/Remote.darc")));
    const CliResult gone = Cli({"verify", "Remote"});
    EXPECT_EQ(gone.status, 1);
    EXPECT_TRUE(Has(gone.out, "MISSING: " + source.File("docs/a.txt") + " (session ")) << gone.out;
    EXPECT_TRUE(Has(gone.out, "in Remote.darc: /backup/Remote.darc does not exist\n")) << gone.out;
    EXPECT_TRUE(ListFileNames(home.File("temp")).empty());
}

// Neither a server that is gone nor an index it will not hand over loses
// anything: the run fails before a volume goes up.
TEST_P(FtpJob, AFailedIndexDownloadStopsTheRunAndLosesNothing) {
    WriteJob("Type=INCR\nCompress=NOT\n");
    ASSERT_TRUE(CreateFolderPath(served.File("backup/Remote.fs/earlier")));
    CliResult run = Cli({"run", "Remote"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Has(run.out, "The index of the earlier backups cannot be read: the download of "
                             "/backup/Remote.fs failed"))
        << run.out;
    EXPECT_TRUE(FolderExists(served.File("backup/Remote.fs/earlier")));
    EXPECT_EQ(ListFileNames(served.File("backup")).size(), 0u);

    WriteJob("Type=INCR\nCompress=NOT\n"); // Status=0 again
    server.reset();                        // nobody listens on that port any more
    run = Cli({"run", "Remote"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Has(run.out, "FAIL: Can't download fs file to perform incremental backup!"))
        << run.out;
    EXPECT_EQ(source.Read("docs/a.txt"), "alpha");
    EXPECT_TRUE(Has(home.Read("backups.ini"), "Status=2"));
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpJob,
                         ::testing::Values(ServerKind::Pyftpdlib, ServerKind::PureFtpd),
                         [](const auto& info) {
                             return info.param == ServerKind::Pyftpdlib ? "pyftpdlib" : "pureftpd";
                         });
