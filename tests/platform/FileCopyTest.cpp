#include "platform/FileCopy.h"
#include "platform/FileSystem.h"
#include "support/TempHome.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(FileCopy, TheTargetGetsContentModeAndTimesWholeOrIsLeftAsItWas) {
    TempHome home;
    home.Write("src.txt", "new");
    home.Write("dst.txt", "a much longer older content");
    ::chmod(home.File("src.txt").c_str(), 0640);
    const struct timespec times[2] = {{1600000000, 5}, {1700000000, 700}};
    ::utimensat(AT_FDCWD, home.File("src.txt").c_str(), times, 0);
    for (const char* target : {"fresh.txt", "dst.txt"}) {
        ASSERT_EQ(CopyFileReplacing(home.File("src.txt"), home.File(target)), 0);
        EXPECT_EQ(home.Read(target), "new");
        struct stat st {};
        ::stat(home.File(target).c_str(), &st);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        EXPECT_EQ(st.st_mtim.tv_sec * 1000 + st.st_mtim.tv_nsec, 1700000000700); // ns kept
    }
    // A failed copy leaves the older target as it was, and nothing beside it.
    EXPECT_EQ(CopyFileReplacing(home.File("missing.txt"), home.File("dst.txt")), ENOENT);
    CreateFolderPath(home.File("folder"));
    EXPECT_EQ(CopyFileReplacing(home.File("folder"), home.File("dst.txt")), EINVAL);
    EXPECT_EQ(home.Read("dst.txt"), "new");
    EXPECT_EQ(ListFileNames(home.Path()).size(), 3u);
}

// Older kernels let only a privileged process name an unnamed file directly;
// a user's copies are then named through /proc. Whichever way this kernel
// allows, a user's copy is the same as root's.
TEST(FileCopy, AnUnprivilegedUserGetsTheSameCopy) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "already a user: the test above took the user's way";
    TempHome home;
    home.Write("src.txt", "shared");
    home.Write("dst.txt", "older");
    ::chmod(home.Path().c_str(), 0777);
    ::chmod(home.File("src.txt").c_str(), 0644);
    const pid_t child = ::fork();
    if (child == 0) {
        const bool ok = ::setresuid(65534, 65534, 65534) == 0 &&
                        CopyFileReplacing(home.File("src.txt"), home.File("fresh.txt")) == 0 &&
                        CopyFileReplacing(home.File("src.txt"), home.File("dst.txt")) == 0;
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (const char* target : {"fresh.txt", "dst.txt"}) {
        EXPECT_EQ(home.Read(target), "shared");
        struct stat st {};
        ::stat(home.File(target).c_str(), &st);
        EXPECT_EQ(st.st_uid, 65534u) << target; // made by the user, not left from before
    }
    EXPECT_EQ(ListFileNames(home.Path()).size(), 3u);
}
