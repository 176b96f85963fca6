#include "archive/clsFile.h"
#include "platform/UniqueFd.h"
#include "platform/Writeback.h"

#include "core/ActivityLog.h"
#include "core/host.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

static_assert(sizeof(off_t) >= 8, "archive positions need a 64-bit off_t");
static_assert(sizeof(z_off_t) >= 8, "gzip stream positions need a 64-bit z_off_t");

namespace {

// Volumes and restored files hold copies of the user's data: private until
// the restore gives a file its recorded permissions.
constexpr mode_t kCreateMode = 0600;

// zlib counts in unsigned int; stay well inside it.
constexpr std::int64_t kGzChunk = 1 << 30;

// Larger than zlib's default so a block costs one system call, not several.
constexpr unsigned kGzBufferSize = 128 * 1024;

gzFile Gz(void* p) {
    return static_cast<gzFile>(p);
}

int OpenFlags(int mode) {
    switch (mode) {
    case clsFile::kRead:
        return O_RDONLY;
    case clsFile::kWrite:
        return O_WRONLY;
    default:
        return O_RDWR;
    }
}

// Opens the descriptor for either mode and tells its size; -1 with errno
// set on failure.
int OpenDescriptor(const std::string& path, int mode, bool gzip, std::int64_t& size) {
    // Non-blocking while we look at what the path is: opening a FIFO would
    // otherwise wait for the other end and stall the run.
    int flags = OpenFlags(mode) | O_CLOEXEC | O_NONBLOCK;
    if (gzip && mode != clsFile::kRead)
        flags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK; // a new member at the end
    int fd = ::open(path.c_str(), flags);
    if (fd < 0 && errno == ENOENT && mode != clsFile::kRead)
        fd = ::open(path.c_str(), flags | O_CREAT, kCreateMode);
    if (fd < 0)
        return -1;
    struct stat st {};
    int refused = 0;
    if (::fstat(fd, &st) != 0)
        refused = errno;
    else if (S_ISDIR(st.st_mode))
        refused = EISDIR;
    else if (mode == clsFile::kRead ? !S_ISREG(st.st_mode)
                                    : S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
        refused = EINVAL; // only regular files are read; pipes are never written
    if (refused != 0) {
        ::close(fd);
        errno = refused;
        return -1;
    }
    // Regular files ignore O_NONBLOCK; only anything else needs it cleared.
    if (!S_ISREG(st.st_mode))
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    size = static_cast<std::int64_t>(st.st_size);
    return fd;
}

// Volumes are flushed to disk before a run calls itself finished. Asking the
// kernel to start writing every few megabytes lets the disk work while we
// go on packing, instead of all at once at the end.
void StartWriteback(int fd, std::int64_t written) {
    static std::int64_t sinceLast = 0;
    sinceLast += written;
    if (sinceLast >= (16 << 20)) {
        StartWritebackSoon(fd);
        sinceLast = 0;
    }
}

} // namespace

clsFile::~clsFile() {
    fClose();
}

int clsFile::fOpen(const std::string& path, int mode) {
    fClose();
    lastErrno_ = 0;
    gzError_.clear();
    std::int64_t size = 0;
    const int fd = OpenDescriptor(path, mode, gzipMode, size);
    if (fd < 0) {
        lastErrno_ = errno;
        WriteLog("ERROR:clsFile.fOpen()->" + std::to_string(lastErrno_) + "---" + path);
        return 2;
    }
    filesize_ = size;
    if (gzipMode) {
        errno = 0;
        gzFile gz = ::gzdopen(fd, mode == kRead ? "rb" : "ab9");
        if (gz == nullptr) {
            lastErrno_ = errno != 0 ? errno : ENOMEM;
            ::close(fd);
            WriteLog("ERROR:clsFile.fOpen()->" + std::to_string(lastErrno_) + "---" + path);
            return 2;
        }
        ::gzbuffer(gz, kGzBufferSize);
        gz_ = gz;
        gzWriting_ = mode != kRead;
    }
    fd_ = fd;
    return 1;
}

std::int64_t clsFile::fRead(std::string& buffer, std::int64_t length, std::int64_t position) {
    lastErrno_ = 0;
    if (fd_ < 0 || length <= 0 || position < 0) {
        buffer.clear();
        return 0;
    }
    buffer.resize(static_cast<std::size_t>(length));
    std::int64_t got = 0;
    if (gz_ == nullptr) {
        while (got < length) {
            const ssize_t n =
                ::pread(fd_, buffer.data() + got, static_cast<std::size_t>(length - got),
                        static_cast<off_t>(position + got));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                lastErrno_ = errno;
                break;
            }
            if (n == 0)
                break;
            got += n;
        }
        buffer.resize(static_cast<std::size_t>(got));
        if (got > 0)
            CurrentHost().Yield();
        return got;
    }

    gzFile gz = Gz(gz_);
    if (::gztell(gz) != position && ::gzseek(gz, static_cast<z_off_t>(position), SEEK_SET) < 0) {
        RecordGzError();
        buffer.clear();
        return 0;
    }
    while (got < length) {
        const unsigned ask = static_cast<unsigned>(std::min(length - got, kGzChunk));
        const int n = ::gzread(gz, buffer.data() + got, ask);
        if (n < 0) {
            RecordGzError();
            break;
        }
        if (n == 0)
            break;
        got += n;
    }
    buffer.resize(static_cast<std::size_t>(got));
    return got;
}

std::int64_t clsFile::fWrite(const std::string& buffer, std::int64_t length,
                             std::int64_t position) {
    lastErrno_ = 0;
    if (fd_ < 0 || length <= 0 || position < 0)
        return 0;
    const std::string* data = &buffer;
    std::string padded;
    if (static_cast<std::int64_t>(buffer.size()) < length) {
        padded = buffer;
        padded.resize(static_cast<std::size_t>(length), '\0');
        data = &padded;
    }
    const char* bytes = data->data();
    std::int64_t put = 0;
    if (gz_ == nullptr) {
        std::size_t landed = 0;
        if (!WriteAllAt(fd_, bytes, static_cast<std::size_t>(length), position, &landed))
            lastErrno_ = errno;
        put = static_cast<std::int64_t>(landed);
        StartWriteback(fd_, put);
        return put;
    }

    gzFile gz = Gz(gz_);
    while (put < length) {
        const unsigned ask = static_cast<unsigned>(std::min(length - put, kGzChunk));
        const int n = ::gzwrite(gz, bytes + put, ask);
        if (n <= 0) {
            RecordGzError();
            break;
        }
        put += n;
    }
    return put;
}

bool clsFile::TruncateFile(std::int64_t position) {
    if (fd_ < 0 || gz_ != nullptr || position < 0)
        return false;
    if (::ftruncate(fd_, static_cast<off_t>(position)) != 0) {
        lastErrno_ = errno;
        return false;
    }
    return true;
}

bool clsFile::fClose() {
    bool ok = true;
    if (gz_ != nullptr) {
        // gzclose writes the member's last bytes and closes the descriptor.
        errno = 0;
        const int rc = ::gzclose(Gz(gz_));
        if (rc != Z_OK) {
            ok = false;
            lastErrno_ = rc == Z_ERRNO && errno != 0 ? errno : EIO;
        }
        gz_ = nullptr;
        fd_ = -1;
    } else if (fd_ >= 0) {
        if (::close(fd_) != 0 && errno != EINTR) {
            ok = false;
            lastErrno_ = errno;
        }
        fd_ = -1;
    }
    gzWriting_ = false;
    return ok;
}

std::int64_t clsFile::DiskSize() {
    if (fd_ < 0)
        return -1;
    if (gz_ != nullptr && gzWriting_ && ::gzflush(Gz(gz_), Z_SYNC_FLUSH) != Z_OK) {
        RecordGzError();
        return -1;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        lastErrno_ = errno;
        return -1;
    }
    return static_cast<std::int64_t>(st.st_size);
}

void clsFile::RecordGzError() {
    const int savedErrno = errno;
    int code = Z_OK;
    const char* text = ::gzerror(Gz(gz_), &code);
    gzError_ = text != nullptr ? text : "";
    lastErrno_ = code == Z_ERRNO && savedErrno != 0 ? savedErrno : EIO;
}
