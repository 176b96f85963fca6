#include "platform/ReplacingFile.h"
#include "platform/UniqueFd.h"

#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

ReplacingFile::~ReplacingFile() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!path_.empty())
        ::unlink(path_.c_str());
}

bool ReplacingFile::Failed(int err) {
    errno_ = err;
    return false;
}

bool ReplacingFile::Create(const std::string& target) {
    target_ = target;
    std::string name = JoinPath(ParentFolder(target), ".tvrestore-XXXXXX");
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return Failed(errno);
    fd_ = fd;
    path_ = std::move(name);
    end_ = 0;
    return true;
}

bool ReplacingFile::WriteAt(std::string_view data, std::int64_t position) {
    if (!WriteAllAt(fd_, data.data(), data.size(), position))
        return Failed(errno);
    end_ = std::max(end_, position + static_cast<std::int64_t>(data.size()));
    return true;
}

bool ReplacingFile::Finish(std::int64_t size, mode_t mode, const struct timespec times[2]) {
    // Zeros at the end were never written: the size says they are there.
    if ((end_ < size && ::ftruncate(fd_, static_cast<off_t>(size)) != 0) ||
        ::fchmod(fd_, mode) != 0 || ::futimens(fd_, times) != 0)
        return Failed(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR)
        return Failed(errno);
    return true;
}

bool ReplacingFile::Commit() {
    if (::rename(path_.c_str(), target_.c_str()) != 0)
        return Failed(errno);
    path_.clear();
    return true;
}
