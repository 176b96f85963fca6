#include "archive/clsFile.h"

#include "archive/ArchiveTestSupport.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace archive_test;

// Reading and writing blocks is covered by the archive and restore tests;
// these are the cases they cannot show.
TEST(FileAccess, MissingFilesFoldersAndPipesAreRefusedAtOnceWithTheirError) {
    TempHome home;
    TestHost host;
    SetProgramFolder(home.Path()); // for the log line
    clsFile f;
    EXPECT_EQ(f.fOpen(home.File("none"), clsFile::kRead), 2);
    EXPECT_EQ(f.LastErrno(), ENOENT);
    EXPECT_NE(host.activity.back().find("ERROR:clsFile.fOpen()->2---" + home.File("none")),
              std::string::npos);
    EXPECT_EQ(f.fOpen(home.Path(), clsFile::kRead), 2);
    EXPECT_EQ(f.LastErrno(), EISDIR);
    // A pipe must come back at once rather than wait for the other end.
    ASSERT_EQ(::mkfifo(home.File("pipe").c_str(), 0600), 0);
    EXPECT_EQ(f.fOpen(home.File("pipe"), clsFile::kRead), 2);
    EXPECT_EQ(f.fOpen(home.File("pipe"), clsFile::kWrite), 2);
    // A full disk: a short write with its error, or for gzip a failed close.
    for (const bool zipped : {false, true}) {
        f.gzipMode = zipped;
        ASSERT_EQ(f.fOpen("/dev/full", clsFile::kWrite), 1);
        if (f.fWrite(std::string(4096, 'a'), 4096, 0) == 4096) { // gzip holds the bytes
            EXPECT_FALSE(f.fClose()) << zipped;
        }
        EXPECT_EQ(f.LastErrno(), ENOSPC) << zipped;
    }
    SetProgramFolder("");
}

TEST(FileAccess, PositionsBeyondFourGigabytesWork) {
    TempHome home;
    const std::int64_t size = 5LL << 30;
    clsFile f;
    ASSERT_EQ(f.fOpen(home.File("sparse"), clsFile::kWrite), 1);
    ASSERT_TRUE(f.TruncateFile(size - 4));
    EXPECT_EQ(f.fWrite("TAIL", 4, size - 4), 4);
    ASSERT_EQ(f.fOpen(home.File("sparse"), clsFile::kRead), 1);
    EXPECT_EQ(f.filesize(), size);
    std::string buffer;
    EXPECT_EQ(f.fRead(buffer, 8, size - 8), 8);
    EXPECT_EQ(buffer, std::string("\0\0\0\0TAIL", 8));
}

TEST(FileAccess, EachGzipWriteOpenAppendsAMemberAndReadsSeekBothWays) {
    TempHome home;
    const std::string path = home.File("vol.gz");
    const std::string first = PseudoRandomBytes(3000, 1);
    const std::string second(5000, 'q');
    for (const std::string* part : {&first, &second}) {
        clsFile f; // the destructor finishes the member
        f.gzipMode = true;
        ASSERT_EQ(f.fOpen(path, clsFile::kWrite), 1);
        f.fWrite(*part, static_cast<std::int64_t>(part->size()), 0);
    }
    EXPECT_EQ(CountGzipMembers(path), 2);
    EXPECT_EQ(Zcat(path), first + second);
    clsFile f;
    f.gzipMode = true;
    ASSERT_EQ(f.fOpen(path, clsFile::kRead), 1);
    std::string buffer;
    EXPECT_EQ(f.fRead(buffer, 100, 2950), 100); // across the member boundary
    EXPECT_EQ(buffer, first.substr(2950) + second.substr(0, 50));
    EXPECT_EQ(f.fRead(buffer, 10, 0), 10); // and back
    EXPECT_EQ(buffer, first.substr(0, 10));
    EXPECT_EQ(f.fRead(buffer, 512, 7900), 100);
    EXPECT_FALSE(f.TruncateFile(0)); // no meaning for a compressed stream
}
