#include "engine/RestoreEngine.h"
#include "archive/clsArchive.h"
#include "core/Globals.h"
#include "i18n/Catalogue.h"
#include "platform/Clock.h"
#include "platform/ProgramFolder.h"
#include "support/TempHome.h"
#include "support/TestHost.h"

#include "archive/ArchiveTestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
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

long PeakKilobytes() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

// 4 GiB and a little more, mostly a hole: the source, the volume and the
// restored file stay sparse where the file system allows, but room is still
// checked for those that do not keep holes.
TEST(RestoreLargeFile, FileBeyondFourGigabytesComesBackWithBoundedMemory) {
    TempHome home;
    TestHost host;
    SetProgramFolder(home.Path());
    LoadMessageCatalogue("");
    SetClockOverride(DateTime::FromParts(2024, 3, 1, 22, 15, 0));
    struct statvfs fs {};
    ASSERT_EQ(::statvfs(home.Path().c_str(), &fs), 0);
    if (static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize < (14ULL << 30)) {
        SetProgramFolder("");
        GTEST_SKIP() << "needs 14 GiB free for the source, the volume and the restored file";
    }

    const std::int64_t size = 4294968296LL; // 2^32 + 1000
    const std::string head = PseudoRandomBytes(5000, 11);
    const std::string tail = PseudoRandomBytes(1000, 12);
    const std::string big = home.File("src/big.img");
    WriteTestFile(big, head);
    {
        const int fd = ::open(big.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), size - 1000), 1000);
        ::close(fd);
    }
    clsArchive archive;
    archive.dSessionDate = *DateTime::FromParts(2024, 3, 1, 22, 15, 0);
    archive.sArcfName = "Big";
    archive.NewArchive("Big", true);
    ASSERT_EQ(archive.AddFileToArchive(DskFileFor(big), false), 1);
    archive.CloseArchive();

    // The staging folder serves as the destination: nothing is copied.
    clsBackup job;
    job.sName = "Big";
    job.sDestinationDir = home.File("temp");
    std::vector<clsRestoreFileData> records;
    ASSERT_TRUE(LoadIndexRecords(home.File("temp/Big.fs"), records));
    ASSERT_EQ(records.size(), 1u);

    const long peakBefore = PeakKilobytes();
    const RestoreResult result = RestoreFiles(job, records, RestoreTarget{home.File("out")});
    const long grown = PeakKilobytes() - peakBefore;
    EXPECT_EQ(result.restored, 1);
    const std::string restored = home.File("out") + big;
    struct stat st {};
    ASSERT_EQ(::stat(restored.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, size);
    EXPECT_TRUE(PreadAt(restored, 0, head.size()) == head);
    EXPECT_EQ(PreadAt(restored, 3000000000LL, 4096), std::string(4096, '\0'));
    EXPECT_TRUE(PreadAt(restored, size - 1000, 2000) == tail);
    EXPECT_LT(grown, 64 * 1024) << "kilobytes of peak memory added by the restore";
    SetClockOverride(std::nullopt);
    SetProgramFolder("");
}
