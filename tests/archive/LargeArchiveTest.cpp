#include "archive/clsArchive.h"
#include "core/Globals.h"
#include "platform/Clock.h"
#include "platform/ProgramFolder.h"
#include "support/TempHome.h"
#include "support/TestHost.h"

#include "archive/ArchiveTestSupport.h"

#include <fcntl.h>
#include "platform/FileSystem.h"

#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace archive_test;

namespace {

std::string PreadAt(const std::string& path, std::int64_t offset, std::size_t length) {
    std::string out(length, '\0');
    const int fd = ::open(path.c_str(), O_RDONLY);
    const ssize_t n = fd < 0 ? -1 : ::pread(fd, out.data(), length, offset);
    if (fd >= 0)
        ::close(fd);
    out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return out;
}

class LargeArchive : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramFolder(home.Path());
        SetClockOverride(DateTime::FromParts(2024, 3, 1, 22, 15, 0));
    }
    void TearDown() override {
        SetClockOverride(std::nullopt);
        SetProgramFolder("");
    }

    TempHome home;
    TestHost host;
};

} // namespace

// A source of 4 GiB and a little more. Both it and the volume are mostly
// holes where the file system allows; room is still checked for those that
// do not.
TEST_F(LargeArchive, FileBeyondFourGigabytesKeepsItsSizeAndOffsets) {
    struct statvfs fs {};
    ASSERT_EQ(::statvfs(home.Path().c_str(), &fs), 0);
    if (static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize < (10ULL << 30))
        GTEST_SKIP() << "needs 10 GiB free for the source and the volume";

    const std::int64_t size = 4294968296LL; // 2^32 + 1000
    const std::string tail = PseudoRandomBytes(1000, 9);
    const std::string big = home.File("src/big.img");
    WriteTestFile(big, "");
    {
        const int fd = ::open(big.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), size - 1000), 1000);
        ::close(fd);
    }
    const std::string after = home.File("src/after.txt");
    WriteTestFile(after, "after");

    clsArchive archive;
    archive.dSessionDate = *DateTime::FromParts(2024, 3, 1, 22, 15, 0);
    archive.sArcfName = "Big";
    archive.NewArchive("Big", true);
    ASSERT_EQ(archive.AddFileToArchive(DskFileFor(big), false), 1);
    ASSERT_EQ(archive.AddFileToArchive(DskFileFor(after), false), 1);

    // 149797 blocks of 28672 bytes, then the trailer block.
    const std::int64_t trailerAt = 149797LL * 28672;
    const std::int64_t end = trailerAt + 28672;
    const std::vector<Fields> index = ReadIndex(home.File("temp/Big.fs"));
    ASSERT_EQ(index.size(), 2u);
    EXPECT_EQ(index[0].at("size"), "4294968296");
    EXPECT_EQ(index[0].at("RecSize"), "28672");
    EXPECT_EQ(index[0].at("dEndOffset"), std::to_string(end));
    // 2^32 is a multiple of 4, so the tail's bytes fall on the checksum bytes in order.
    EXPECT_EQ(index[0].at("crc"), Hex(NaiveChecksum(tail)));
    EXPECT_EQ(index[1].at("sOffs"), std::to_string(end));
    EXPECT_EQ(index[1].at("dEndOffset"), std::to_string(end + 1024));

    const std::string volume = home.File("temp/Big.darc");
    EXPECT_TRUE(PreadAt(volume, size - 1000, 1000) == tail);
    EXPECT_EQ(PreadAt(volume, size, trailerAt - size), std::string(trailerAt - size, '\0'));
    EXPECT_EQ(PreadAt(volume, trailerAt, big.size() + 62),
              big + "004294968296" + Hex(NaiveChecksum(tail)) + "00000000000000" +
                  "00004295008256" + "20240301221500");
    EXPECT_EQ(PreadAt(volume, end + 512, after.size() + 12 + 8 + 14),
              after + "000000000005" + Hex(NaiveChecksum("after")) + "00004295008256");
    EXPECT_EQ(FileSize(archive.Volumes.at(0).FullName()), end + 1024);
}
