#include "archive/clsFile.h"
#include "platform/ProgramFolder.h"
#include "support/TempHome.h"
#include "support/TestHost.h"

#include "archive/ArchiveTestSupport.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace archive_test;

namespace {

class FileAccess : public ::testing::Test {
protected:
    void SetUp() override { SetProgramFolder(home.Path()); }
    void TearDown() override { SetProgramFolder(""); }

    TempHome home;
    TestHost host;
};

} // namespace

TEST_F(FileAccess, MissingFileFailsInReadModeWithALogLineAndIsCreatedInWriteMode) {
    const std::string path = home.File("new.bin");
    clsFile f;
    EXPECT_EQ(f.fOpen(path, clsFile::kRead), 2);
    EXPECT_EQ(f.LastErrno(), ENOENT);
    ASSERT_FALSE(host.activity.empty());
    EXPECT_NE(host.activity.back().find("ERROR:clsFile.fOpen()->2---" + path), std::string::npos);
    EXPECT_EQ(f.fOpen(path, clsFile::kWrite), 1);
    EXPECT_TRUE(f.fClose());
    EXPECT_EQ(ReadTestFile(path), "");
}

TEST_F(FileAccess, ReadsAtPositionsWritesFillUpAndTruncateCuts) {
    home.Write("data.bin", "0123456789");
    clsFile f;
    ASSERT_EQ(f.fOpen(home.File("data.bin"), clsFile::kRead), 1);
    EXPECT_EQ(f.filesize(), 10);
    std::string buffer = "stale";
    EXPECT_EQ(f.fRead(buffer, 4, 3), 4);
    EXPECT_EQ(buffer, "3456");
    EXPECT_EQ(f.fRead(buffer, 512, 8), 2);
    EXPECT_EQ(buffer, "89");
    for (const std::int64_t past : {10, 5000}) {
        EXPECT_EQ(f.fRead(buffer, 512, past), 0);
        EXPECT_EQ(buffer, "");
    }
    EXPECT_EQ(f.LastErrno(), 0);
    EXPECT_EQ(host.yields, 2); // once per read that found something

    const std::string path = home.File("out.bin");
    ASSERT_EQ(f.fOpen(path, clsFile::kWrite), 1);
    EXPECT_EQ(f.fWrite(std::string(300, 'x'), 512, 0), 512);
    EXPECT_EQ(f.fWrite("yz", 2, 1000), 2);
    EXPECT_EQ(ReadTestFile(path), std::string(300, 'x') + std::string(700, '\0') + "yz");
    EXPECT_TRUE(f.TruncateFile(4));
    EXPECT_EQ(ReadTestFile(path), "xxxx");
    EXPECT_TRUE(f.TruncateFile(0));
    EXPECT_EQ(ReadTestFile(path), "");
}

TEST_F(FileAccess, PositionsBeyondFourGigabytesWork) {
    const std::string path = home.File("sparse.bin");
    const std::int64_t size = 5LL * 1024 * 1024 * 1024;
    clsFile f;
    ASSERT_EQ(f.fOpen(path, clsFile::kWrite), 1);
    ASSERT_TRUE(f.TruncateFile(size - 4));
    EXPECT_EQ(f.fWrite("TAIL", 4, size - 4), 4);
    ASSERT_EQ(f.fOpen(path, clsFile::kRead), 1);
    EXPECT_EQ(f.filesize(), size);
    std::string buffer;
    EXPECT_EQ(f.fRead(buffer, 8, size - 8), 8);
    EXPECT_EQ(buffer, std::string("\0\0\0\0TAIL", 8));
}

TEST_F(FileAccess, FoldersAndPipesAreRefusedAtOnceAndAFullDiskIsReported) {
    clsFile f;
    EXPECT_EQ(f.fOpen(home.Path(), clsFile::kRead), 2);
    EXPECT_EQ(f.LastErrno(), EISDIR);
    const std::string fifo = home.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Must come back at once rather than wait for the other end.
    EXPECT_EQ(f.fOpen(fifo, clsFile::kRead), 2);
    EXPECT_EQ(f.fOpen(fifo, clsFile::kWrite), 2);

    // Plain: a short write with its error; gzip keeps the bytes until close.
    ASSERT_EQ(f.fOpen("/dev/full", clsFile::kWrite), 1);
    EXPECT_EQ(f.fWrite(std::string(512, 'a'), 512, 0), 0);
    EXPECT_EQ(f.LastErrno(), ENOSPC);
    f.gzipMode = true;
    ASSERT_EQ(f.fOpen("/dev/full", clsFile::kWrite), 1);
    f.fWrite(std::string(4096, 'a'), 4096, 0);
    EXPECT_FALSE(f.fClose());
    EXPECT_EQ(f.LastErrno(), ENOSPC);
}

TEST_F(FileAccess, EachGzipWriteOpenAppendsAMemberAndTheReaderSeesOneStream) {
    const std::string path = home.File("vol.gz");
    const std::string first = PseudoRandomBytes(3000, 1);
    const std::string second = std::string(5000, 'q');
    for (const std::string* part : {&first, &second}) {
        clsFile f;
        f.gzipMode = true;
        ASSERT_EQ(f.fOpen(path, clsFile::kWrite), 1);
        EXPECT_EQ(f.fWrite(*part, static_cast<std::int64_t>(part->size()), 0),
                  static_cast<std::int64_t>(part->size()));
        if (part == &first) {
            EXPECT_TRUE(f.fClose()); // the second is finished by the destructor
        }
    }
    EXPECT_EQ(CountGzipMembers(path), 2);
    EXPECT_EQ(Zcat(path), first + second);

    clsFile f;
    f.gzipMode = true;
    ASSERT_EQ(f.fOpen(path, clsFile::kRead), 1);
    std::string buffer;
    // Across the member boundary, then backwards.
    EXPECT_EQ(f.fRead(buffer, 100, 2950), 100);
    EXPECT_EQ(buffer, first.substr(2950) + second.substr(0, 50));
    EXPECT_EQ(f.fRead(buffer, 10, 0), 10);
    EXPECT_EQ(buffer, first.substr(0, 10));
    EXPECT_EQ(f.fRead(buffer, 512, 7900), 100);
    EXPECT_EQ(f.fRead(buffer, 512, 8000), 0);
    EXPECT_FALSE(f.TruncateFile(0)); // no meaning for a compressed stream

    // A damaged stream stops with an error instead of making up bytes.
    std::string bytes = ReadTestFile(path);
    bytes[bytes.size() / 3] ^= 0x55;
    WriteTestFile(path, bytes);
    ASSERT_EQ(f.fOpen(path, clsFile::kRead), 1);
    std::int64_t total = 0;
    for (std::int64_t n; (n = f.fRead(buffer, 4096, total)) > 0;)
        total += n;
    EXPECT_LT(total, 8000);
    EXPECT_NE(f.LastErrno(), 0);
}
