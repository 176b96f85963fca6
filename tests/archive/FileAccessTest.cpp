#include "archive/ArchiveIndex.h"
#include "archive/clsFile.h"
#include "platform/ProgramFolder.h"
#include "support/TempHome.h"
#include "support/TestHost.h"

#include "archive/ArchiveTestSupport.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace archive_test;

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

class FileAccess : public ::testing::Test {
protected:
    void SetUp() override { SetProgramFolder(home.Path()); }
    void TearDown() override { SetProgramFolder(""); }

    TempHome home;
    TestHost host;
};

} // namespace

TEST(BlockChecksum, EightZeroBytesGiveZero) {
    EXPECT_EQ(XorBlockChecksum(std::string(8, '\0'), std::string(4, '\0')), std::string(4, '\0'));
}

TEST(BlockChecksum, BytesOneToEightGiveFourFourFourTwelve) {
    EXPECT_EQ(XorBlockChecksum(Bytes({1, 2, 3, 4, 5, 6, 7, 8}), std::string(4, '\0')),
              Bytes({0x04, 0x04, 0x04, 0x0C}));
}

TEST(BlockChecksum, TextAbcPaddedReadsAsHex61626300) {
    const std::string zero(4, '\0');
    EXPECT_EQ(HexString(XorBlockChecksum(std::string("abc\0", 4), zero)), "61626300");
    // A tail shorter than four bytes counts as filled with 0x00.
    EXPECT_EQ(HexString(XorBlockChecksum("abc", zero)), "61626300");
}

TEST(BlockChecksum, SeedIsFilledWithSpacesOrCutToFourBytes) {
    EXPECT_EQ(XorBlockChecksum("", "ab"), "ab  ");
    EXPECT_EQ(XorBlockChecksum("", "abcdef"), "abcd");
    EXPECT_EQ(XorBlockChecksum(Bytes({1, 1, 1, 1}), Bytes({0xF0, 0x0F, 0xFF, 0x00})),
              Bytes({0xF1, 0x0E, 0xFE, 0x01}));
}

TEST(BlockChecksum, ChainingBlocksEqualsTheWholeAndMatchesTheBytewiseDefinition) {
    const std::string data = PseudoRandomBytes(100003, 7);
    // Blocks of a multiple of four bytes chain; odd offsets exercise unaligned words.
    std::string chained(4, '\0');
    for (std::size_t at = 0; at < data.size(); at += 28672)
        chained = XorBlockChecksum(data.substr(at, 28672), chained);
    EXPECT_EQ(chained, NaiveChecksum(data));
    EXPECT_EQ(XorBlockChecksum(data.substr(1), std::string(4, '\0')),
              NaiveChecksum(data.substr(1)));
}

TEST_F(FileAccess, MissingFileFailsInReadModeWithALogLineAndIsCreatedInWriteMode) {
    const std::string path = home.File("new.bin");
    clsFile f;
    EXPECT_EQ(f.fOpen(path, clsFile::kRead), 2);
    EXPECT_EQ(f.LastErrno(), ENOENT);
    ASSERT_FALSE(host.activity.empty());
    EXPECT_NE(host.activity.back().find("ERROR:clsFile.fOpen()->2---" + path), std::string::npos);

    EXPECT_EQ(f.fOpen(path, clsFile::kWrite), 1);
    EXPECT_TRUE(f.fClose());
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
}

TEST_F(FileAccess, ReadsAtPositionsYieldsAndReturnsNothingPastTheEnd) {
    home.Write("data.bin", "0123456789");
    clsFile f;
    ASSERT_EQ(f.fOpen(home.File("data.bin"), clsFile::kRead), 1);
    EXPECT_EQ(f.filesize(), 10);
    std::string buffer = "stale";
    EXPECT_EQ(f.fRead(buffer, 4, 3), 4);
    EXPECT_EQ(buffer, "3456");
    EXPECT_EQ(f.fRead(buffer, 512, 8), 2);
    EXPECT_EQ(buffer, "89");
    EXPECT_EQ(f.fRead(buffer, 512, 10), 0);
    EXPECT_EQ(buffer, "");
    EXPECT_EQ(f.fRead(buffer, 512, 5000), 0);
    EXPECT_EQ(buffer, "");
    EXPECT_EQ(f.LastErrno(), 0);
    EXPECT_EQ(host.yields, 2); // once per read that found something
}

TEST_F(FileAccess, WriteFillsUpToTheLengthAndTruncateCutsIncludingToZero) {
    const std::string path = home.File("out.bin");
    clsFile f;
    ASSERT_EQ(f.fOpen(path, clsFile::kWrite), 1);
    EXPECT_EQ(f.fWrite(std::string(300, 'x'), 512, 0), 512);
    EXPECT_EQ(f.fWrite("yz", 2, 1000), 2);
    const std::string content = ReadBytes(path);
    ASSERT_EQ(content.size(), 1002u);
    EXPECT_EQ(content.substr(0, 300), std::string(300, 'x'));
    EXPECT_EQ(content.substr(300, 212), std::string(212, '\0'));
    EXPECT_EQ(content.substr(512, 488), std::string(488, '\0'));
    EXPECT_EQ(content.substr(1000), "yz");
    EXPECT_TRUE(f.TruncateFile(4));
    EXPECT_EQ(ReadBytes(path), "xxxx");
    EXPECT_TRUE(f.TruncateFile(0));
    EXPECT_EQ(ReadBytes(path), "");
}

TEST_F(FileAccess, PositionsBeyondFourGigabytesWork) {
    const std::string path = home.File("sparse.bin");
    const std::int64_t size = 5LL * 1024 * 1024 * 1024;
    {
        clsFile f;
        ASSERT_EQ(f.fOpen(path, clsFile::kWrite), 1);
        ASSERT_TRUE(f.TruncateFile(size - 4));
        EXPECT_EQ(f.fWrite("TAIL", 4, size - 4), 4);
    }
    clsFile f;
    ASSERT_EQ(f.fOpen(path, clsFile::kRead), 1);
    EXPECT_EQ(f.filesize(), size);
    std::string buffer;
    EXPECT_EQ(f.fRead(buffer, 8, size - 8), 8);
    EXPECT_EQ(buffer, std::string("\0\0\0\0TAIL", 8));
}

TEST_F(FileAccess, FoldersAndPipesAreRefusedAtOnce) {
    clsFile f;
    EXPECT_EQ(f.fOpen(home.Path(), clsFile::kRead), 2);
    EXPECT_EQ(f.LastErrno(), EISDIR);
    const std::string fifo = home.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Must come back at once rather than wait for the other end.
    EXPECT_EQ(f.fOpen(fifo, clsFile::kRead), 2);
    EXPECT_EQ(f.fOpen(fifo, clsFile::kWrite), 2);
}

TEST_F(FileAccess, AFullDiskShowsAsAShortWriteWithItsErrorNumber) {
    clsFile f;
    ASSERT_EQ(f.fOpen("/dev/full", clsFile::kWrite), 1);
    EXPECT_EQ(f.fWrite(std::string(512, 'a'), 512, 0), 0);
    EXPECT_EQ(f.LastErrno(), ENOSPC);
}

TEST_F(FileAccess, AFullDiskUnderAGzipStreamIsReportedByClose) {
    clsFile f;
    f.gzipMode = true;
    ASSERT_EQ(f.fOpen("/dev/full", clsFile::kWrite), 1);
    // zlib keeps the compressed bytes until its buffer fills or the stream ends.
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
        EXPECT_TRUE(f.fClose());
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
    EXPECT_EQ(buffer, "");
    // Truncation has no meaning for a compressed stream.
    EXPECT_FALSE(f.TruncateFile(0));
}

TEST_F(FileAccess, DestroyingAnOpenGzipFileFinishesItsMember) {
    const std::string path = home.File("left-open.gz");
    {
        clsFile f;
        f.gzipMode = true;
        ASSERT_EQ(f.fOpen(path, clsFile::kWrite), 1);
        f.fWrite("kept", 4, 0);
    }
    EXPECT_EQ(CountGzipMembers(path), 1);
    EXPECT_EQ(Gunzip(path), "kept");
}

TEST_F(FileAccess, ReadingACorruptGzipStreamStopsWithAnError) {
    const std::string path = home.File("bad.gz");
    {
        clsFile f;
        f.gzipMode = true;
        ASSERT_EQ(f.fOpen(path, clsFile::kWrite), 1);
        f.fWrite(PseudoRandomBytes(20000, 3), 20000, 0);
    }
    std::string bytes = ReadBytes(path);
    bytes[bytes.size() / 2] ^= 0x55;
    WriteTestFile(path, bytes);
    clsFile f;
    f.gzipMode = true;
    ASSERT_EQ(f.fOpen(path, clsFile::kRead), 1);
    std::string buffer;
    std::int64_t total = 0;
    for (std::int64_t n; (n = f.fRead(buffer, 4096, total)) > 0;)
        total += n;
    EXPECT_LT(total, 20000);
    EXPECT_NE(f.LastErrno(), 0);
}
