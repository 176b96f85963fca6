#include "platform/FileCopy.h"
#include "platform/FileSystem.h"
#include "support/TempHome.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

struct stat StatOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st;
}

} // namespace

TEST(FileCopy, NewTargetGetsTheContentModeAndTimes) {
    TempHome home;
    home.Write("src.txt", "content");
    ::chmod(home.File("src.txt").c_str(), 0640);
    const struct timespec times[2] = {{1600000000, 5}, {1700000000, 700}};
    ::utimensat(AT_FDCWD, home.File("src.txt").c_str(), times, 0);
    ASSERT_EQ(CopyFileReplacing(home.File("src.txt"), home.File("dst.txt")), 0);
    EXPECT_EQ(home.Read("dst.txt"), "content");
    const struct stat st = StatOf(home.File("dst.txt"));
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1700000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 700);
}

TEST(FileCopy, AnExistingTargetIsReplacedWholeAndNothingIsLeftBeside) {
    TempHome home;
    home.Write("src.txt", "new");
    home.Write("dst.txt", "a much longer older content");
    ASSERT_EQ(CopyFileReplacing(home.File("src.txt"), home.File("dst.txt")), 0);
    EXPECT_EQ(home.Read("dst.txt"), "new");
    EXPECT_EQ(ListFileNames(home.Path()).size(), 2u);
}

TEST(FileCopy, AFailedCopyLeavesTheOlderTargetAsItWas) {
    TempHome home;
    home.Write("dst.txt", "older");
    EXPECT_EQ(CopyFileReplacing(home.File("missing.txt"), home.File("dst.txt")), ENOENT);
    EXPECT_EQ(home.Read("dst.txt"), "older");
    CreateFolderPath(home.File("folder"));
    EXPECT_EQ(CopyFileReplacing(home.File("folder"), home.File("dst.txt")), EINVAL);
    EXPECT_EQ(home.Read("dst.txt"), "older");
    EXPECT_EQ(ListFileNames(home.Path()), std::vector<std::string>{"dst.txt"});
}
