#include "archive/clsArchive.h"
#include "platform/Clock.h"

#include "archive/ArchiveTestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace archive_test;

namespace {

using LargeFile = RestoreFixture;

std::string PreadAt(const std::string& path, std::int64_t offset, std::size_t length) {
    std::string out(length, '\0');
    const int fd = ::open(path.c_str(), O_RDONLY);
    out.resize(
        static_cast<std::size_t>(std::max<ssize_t>(0, ::pread(fd, out.data(), length, offset))));
    ::close(fd);
    return out;
}

long PeakKilobytes() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

// 4 GiB and a little more, mostly a hole: source, volume and restored file
// stay sparse where the file system allows; room is checked for those that
// do not keep holes.
TEST_F(LargeFile, AFileBeyondFourGigabytesIsStoredAndRestoredWithBoundedMemory) {
    struct statvfs fs {};
    ASSERT_EQ(::statvfs(home.Path().c_str(), &fs), 0);
    if (static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize < (14ULL << 30))
        GTEST_SKIP() << "needs 14 GiB free for the source, the volume and the restored file";
    SetClockOverride(DateTime::FromParts(2024, 3, 1, 22, 15, 0));
    const std::int64_t size = 4294968296LL; // 2^32 + 1000
    const std::string head = PseudoRandomBytes(5000, 11);
    const std::string tail = PseudoRandomBytes(1000, 12);
    const std::string big = source.File("big.img");
    source.Write("big.img", head);
    ASSERT_EQ(::truncate(big.c_str(), size - 1000), 0);
    const std::string after = source.File("after.txt");
    source.Write("after.txt", "after");
    {
        const int fd = ::open(big.c_str(), O_WRONLY | O_APPEND);
        ASSERT_EQ(::write(fd, tail.data(), tail.size()), 1000);
        ::close(fd);
    }
    clsArchive archive;
    archive.dSessionDate = ClockNow();
    archive.sArcfName = "Big";
    archive.NewArchive("Big", true);
    ASSERT_EQ(archive.AddFileToArchive(DskFileFor(big), false), 1);
    ASSERT_EQ(archive.AddFileToArchive(DskFileFor(after), false), 1);
    archive.CloseArchive();

    // 149797 blocks of 28672 bytes, then the trailer block. Head and tail fall
    // on the checksum bytes in order: 2^32 is a multiple of 4.
    const std::int64_t trailerAt = 149797LL * 28672;
    const std::int64_t end = trailerAt + 28672;
    const std::string crc = Hex(XorBlockChecksum(tail, NaiveChecksum(head)));
    const std::vector<clsRestoreFileData> index = IndexLines(home.File("temp/Big.fs"));
    ASSERT_EQ(index.size(), 2u);
    EXPECT_EQ(index[0].size, size);
    EXPECT_EQ(index[0].recsize, 28672);
    EXPECT_EQ(index[0].dendoffset, end);
    EXPECT_EQ(index[0].crc, crc);
    EXPECT_EQ(index[1].soffs, end);
    const std::string volume = home.File("temp/Big.darc");
    EXPECT_EQ(PreadAt(volume, trailerAt, big.size() + 62),
              big + "004294968296" + crc + "00000000000000" + "00004295008256" + "20240301221500");
    EXPECT_EQ(PreadAt(volume, end + 512, after.size() + 34),
              after + "000000000005" + Hex(NaiveChecksum("after")) + "00004295008256");

    // The staging folder serves as the destination: nothing is copied.
    AddJob("Big", false, 0, {})->sDestinationDir = home.File("temp");
    const long peakBefore = PeakKilobytes();
    EXPECT_TRUE(LoadAndRestore("Big", {chosen.Path()}).AllRestored());
    EXPECT_LT(PeakKilobytes() - peakBefore, 64 * 1024) << "kilobytes added by the restore";
    const std::string restored = chosen.Path() + big;
    EXPECT_EQ(FileSize(restored), size);
    EXPECT_TRUE(PreadAt(restored, 0, head.size()) == head);
    EXPECT_EQ(PreadAt(restored, 3000000000LL, 4096), std::string(4096, '\0'));
    EXPECT_TRUE(PreadAt(restored, size - 1000, 2000) == tail);
}
