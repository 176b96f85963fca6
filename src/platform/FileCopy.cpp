#include "platform/FileCopy.h"

#include "platform/FileSystem.h"
#include "platform/UniqueFd.h"
#include "platform/Writeback.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

int CopyWithBuffer(int in, int out, off_t from) {
    std::vector<char> buffer(1 << 20);
    if (::lseek(in, from, SEEK_SET) < 0 || ::lseek(out, from, SEEK_SET) < 0)
        return errno;
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return 0;
        if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(n)))
            return errno;
    }
}

// The kernel copies without bringing the data through user space where the
// file systems allow it. Once the size seen at open is copied, no call is
// spent on finding the end (a file of size 0 may still have content, as
// some system files do, so it is read until the end).
int CopyData(int in, int out, off_t size) {
    off_t copied = 0;
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n > 0) {
            copied += n;
            if (size > 0 && copied >= size)
                return 0;
            continue;
        }
        if (n == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)
            return CopyWithBuffer(in, out, copied);
        return errno;
    }
}

// A name beside the target for a file or link on its way to it: ours by
// the process id, one of many tries should an earlier run have left one.
std::string ScratchName(const char* kind, int attempt) {
    return std::string(".tv") + kind + "-" + std::to_string(::getpid()) + "-" +
           std::to_string(attempt);
}

// The copy is written into an unnamed file of the target's folder and only
// given a name when complete: a new target appears in one step, an existing
// one is replaced through a temporary name and a rename. Where the file
// system has no unnamed files, a named temporary file does the same. Names
// are taken relative to the folder, so a deep tree is not walked per file.
int OpenUnnamedIn(int folderFd, bool& unnamed, std::string& tmpName) {
    int fd = ::openat(folderFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    unnamed = fd >= 0;
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        tmpName = ScratchName("copy", attempt);
        fd = ::openat(folderFd, tmpName.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Gives the unnamed file `fd` the name `name` in `folderFd`. Older kernels
// let only a privileged process link the descriptor itself; elsewhere the
// same file is reached through /proc.
int LinkUnnamed(int fd, int folderFd, const std::string& name) {
    static std::atomic<bool> direct{true};
    const bool tryDirect = direct.load(std::memory_order_relaxed);
    if (tryDirect) {
        if (::linkat(fd, "", folderFd, name.c_str(), AT_EMPTY_PATH) == 0)
            return 0;
        if (errno != ENOENT && errno != EPERM)
            return errno;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), folderFd, name.c_str(), AT_SYMLINK_FOLLOW) != 0)
        return errno;
    // Only a refusal that /proc does not share means the privilege is missing.
    if (tryDirect)
        direct.store(false, std::memory_order_relaxed);
    return 0;
}

int NameUnnamed(int fd, int folderFd, const std::string& name) {
    const int linked = LinkUnnamed(fd, folderFd, name);
    if (linked != EEXIST)
        return linked;
    // An older file of that name stays until the new one replaces it.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string tmp = ScratchName("copy", attempt);
        if (const int failure = LinkUnnamed(fd, folderFd, tmp); failure != 0) {
            if (failure == EEXIST)
                continue;
            return failure;
        }
        if (::renameat(folderFd, tmp.c_str(), folderFd, name.c_str()) != 0) {
            const int failure = errno;
            ::unlinkat(folderFd, tmp.c_str(), 0);
            return failure;
        }
        return 0;
    }
    return EEXIST;
}

} // namespace

int CopyFileReplacing(const std::string& source, const std::string& target) {
    UniqueFd folder(::open(ParentFolder(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0)
        return errno;
    return CopyFileReplacingAt(source, folder.get(), FileNameOf(target));
}

int CopyFileReplacingAt(const std::string& source, int folderFd, const std::string& name) {
    UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        return errno;
    struct stat st {};
    if (::fstat(in.get(), &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return EINVAL;

    bool unnamed = false;
    std::string tmpName;
    UniqueFd out(OpenUnnamedIn(folderFd, unnamed, tmpName));
    if (out.get() < 0)
        return errno;
    int failure = CopyData(in.get(), out.get(), st.st_size);
    // The run flushes its deliveries at the end; a large file starts on its
    // way to the disk now, while the next ones are copied.
    if (failure == 0 && st.st_size >= (4 << 20))
        StartWritebackSoon(out.get());
    if (failure == 0 && ::fchmod(out.get(), st.st_mode & 07777) != 0)
        failure = errno;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (failure == 0 && ::futimens(out.get(), times) != 0)
        failure = errno;
    if (unnamed) {
        // An unnamed file that is never linked vanishes with its descriptor.
        if (failure == 0)
            failure = NameUnnamed(out.get(), folderFd, name);
        if (out.Close() != 0 && failure == 0)
            failure = errno;
        return failure;
    }
    // A full disk can surface only when the data is flushed at close.
    if (out.Close() != 0 && failure == 0)
        failure = errno;
    if (failure == 0 && ::renameat(folderFd, tmpName.c_str(), folderFd, name.c_str()) != 0)
        failure = errno;
    if (failure != 0)
        ::unlinkat(folderFd, tmpName.c_str(), 0);
    return failure;
}

bool ReadLinkText(int folderFd, const char* name, std::string& text) {
    // A target longer than PATH_MAX cannot be made again anyway.
    char buffer[PATH_MAX];
    const ssize_t n = ::readlinkat(folderFd, name, buffer, sizeof buffer);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer)
        return false;
    text.assign(buffer, static_cast<std::size_t>(n));
    return true;
}

int PlaceLinkReplacing(const std::string& text, const std::string& target,
                       const struct timespec times[2]) {
    const std::string folder = ParentFolder(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string tmp = JoinPath(folder, ScratchName("link", attempt));
        if (::symlink(text.c_str(), tmp.c_str()) != 0) {
            if (errno == EEXIST)
                continue;
            return errno;
        }
        int failure = 0;
        if (::utimensat(AT_FDCWD, tmp.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0 ||
            ::rename(tmp.c_str(), target.c_str()) != 0)
            failure = errno;
        if (failure != 0)
            ::unlink(tmp.c_str());
        return failure;
    }
    return EEXIST;
}
