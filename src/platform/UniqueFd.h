#pragma once
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <unistd.h>
#include <utility>

// File descriptors: ownership, and reads and writes that finish what they
// start.

// Owns one file descriptor and closes it when it goes out of scope.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            reset(std::exchange(other.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    // Closes the one held (if any) and takes `fd`.
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    // Closes now and tells whether the close succeeded (a full disk can
    // surface only here).
    int Close() { return ::close(std::exchange(fd_, -1)); }

private:
    int fd_;
};

// Writes all of `data`, going on after a signal interrupted the call or the
// kernel took only part of it. False with errno set when a write fails.
inline bool WriteAll(int fd, const void* data, std::size_t size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, next, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) { // never for a non-empty write; a loop here would never end
            errno = EIO;
            return false;
        }
        next += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// WriteAll at a file position (pwrite). `written` receives how much landed,
// also after a failure, for callers that must know where the file now ends.
inline bool WriteAllAt(int fd, const void* data, std::size_t size, std::int64_t position,
                       std::size_t* written = nullptr) {
    const char* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    bool ok = true;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, bytes + done, size - done,
                                   static_cast<off_t>(position) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (written != nullptr)
        *written = done;
    return ok;
}

// Fills `data` with up to `size` bytes, stopping early only at the end of the
// input. The count read, or -1 with errno set.
inline std::int64_t ReadFull(int fd, void* data, std::size_t size) {
    char* next = static_cast<char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, next + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}
