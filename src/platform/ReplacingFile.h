#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

// A file that replaces its target only once it is complete: it is written
// beside the target under a temporary name, given its size, permissions and
// times, closed (a full disk may show only then) and renamed into place.
// Whatever was at the target stays untouched until that rename, and the
// temporary file is removed again unless it got there.
class ReplacingFile {
public:
    ReplacingFile() = default;
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;
    ~ReplacingFile();

    // Creates the temporary file in the target's folder, which must exist.
    bool Create(const std::string& target);

    // Writes all of `data` at `position`; what is never written reads as
    // zeros (and stays a hole where the file system allows).
    bool WriteAt(std::string_view data, std::int64_t position);

    // Size, permissions and access and write times, then closed.
    bool Finish(std::int64_t size, mode_t mode, const struct timespec times[2]);

    // Renames the finished file over the target.
    bool Commit();

    // errno of the last failure.
    int LastErrno() const { return errno_; }

private:
    bool Failed(int err);

    int fd_ = -1;
    std::string target_;
    std::string path_; // the temporary name while it exists
    std::int64_t end_ = 0;
    int errno_ = 0;
};
