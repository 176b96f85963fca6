#include "platform/FileCopy.h"

#include "platform/FileSystem.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int Close() {
        const int r = ::close(fd_);
        fd_ = -1;
        return r;
    }

private:
    int fd_;
};

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
        ssize_t done = 0;
        while (done < n) {
            const ssize_t w =
                ::write(out, buffer.data() + done, static_cast<std::size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            done += w;
        }
    }
}

// The kernel copies without bringing the data through user space where the
// file systems allow it.
int CopyData(int in, int out) {
    off_t copied = 0;
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n > 0) {
            copied += n;
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

} // namespace

int CopyFileReplacing(const std::string& source, const std::string& target) {
    Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        return errno;
    struct stat st {};
    if (::fstat(in.get(), &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return EINVAL;

    std::string tmpl = JoinPath(ParentFolder(target), ".tvcopy-XXXXXX");
    Fd out(::mkostemp(tmpl.data(), O_CLOEXEC));
    if (out.get() < 0)
        return errno;
    int failure = CopyData(in.get(), out.get());
    // The run flushes its deliveries at the end; a large file starts on its
    // way to the disk now, while the next ones are copied.
    if (failure == 0 && st.st_size >= (4 << 20))
        ::sync_file_range(out.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    if (failure == 0 && ::fchmod(out.get(), st.st_mode & 07777) != 0)
        failure = errno;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (failure == 0 && ::futimens(out.get(), times) != 0)
        failure = errno;
    // A full disk can surface only when the data is flushed at close.
    if (out.Close() != 0 && failure == 0)
        failure = errno;
    if (failure == 0 && ::rename(tmpl.c_str(), target.c_str()) != 0)
        failure = errno;
    if (failure != 0)
        ::unlink(tmpl.c_str());
    return failure;
}
