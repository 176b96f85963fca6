#pragma once
#include <cstdint>
#include <string>
#include <sys/stat.h>

// A file time in 100-nanosecond units since 1601-01-01 UTC, carried as two
// 32-bit halves, high half first, the way the index and archive record it.
struct FileTimeHalves {
    std::uint32_t high = 0;
    std::uint32_t low = 0;

    std::uint64_t Value() const { return (static_cast<std::uint64_t>(high) << 32) | low; }
    static FileTimeHalves FromValue(std::uint64_t v) {
        return {static_cast<std::uint32_t>(v >> 32), static_cast<std::uint32_t>(v)};
    }
    bool operator==(const FileTimeHalves&) const = default;
};

// The three times of a file as every record carries them, each set and read
// as its two halves, high first.
class FileTimeSlots {
public:
    void tLastWriteTimeSet(std::uint32_t high, std::uint32_t low) { lastWrite_ = {high, low}; }
    void tLastAccessTimeSet(std::uint32_t high, std::uint32_t low) { lastAccess_ = {high, low}; }
    void tCreationTimeSet(std::uint32_t high, std::uint32_t low) { creation_ = {high, low}; }
    const FileTimeHalves& tLastWriteTimeGet() const { return lastWrite_; }
    const FileTimeHalves& tLastAccessTimeGet() const { return lastAccess_; }
    const FileTimeHalves& tCreationTimeGet() const { return creation_; }

private:
    FileTimeHalves lastWrite_;
    FileTimeHalves lastAccess_;
    FileTimeHalves creation_;
};

// 116444736000000000 = 100 ns ticks from 1601-01-01 to 1970-01-01.
inline constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

FileTimeHalves FileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds);
// Seconds and nanoseconds since 1970 for a file time (for futimens).
struct timespec UnixFromFileTime(const FileTimeHalves& t);

// Low bits in the familiar meaning (1 read-only, 2 hidden, 16 folder,
// 32 archive), high 16 bits the Unix mode bits, as ZIP does.
inline constexpr std::uint32_t kAttrReadOnly = 1;
inline constexpr std::uint32_t kAttrHidden = 2;
inline constexpr std::uint32_t kAttrDirectory = 16;
inline constexpr std::uint32_t kAttrArchive = 32;
std::uint32_t AttributeWord(const struct stat& st, const std::string& name);
// Whether an attribute word's high half says "symbolic link": such a record's
// content is the link's target text.
inline bool IsLinkAttribute(std::int64_t word) {
    return ((static_cast<std::uint64_t>(word) >> 16) & S_IFMT) == S_IFLNK;
}

// Creation, last-access and last-write time of a file, as stat and statx
// report them (creation = birth time where the file system keeps one, else
// the change time).
struct FileTimesOf {
    FileTimeHalves creation;
    FileTimeHalves lastAccess;
    FileTimeHalves lastWrite;
};
FileTimesOf FileTimesFromStat(const struct stat& st);
// Birth time through statx when available; falls back to the change time.
FileTimesOf ReadFileTimes(const std::string& path, const struct stat& st);

// Type, size, mode and all three times of a name in an open folder, in one
// call (statx). Without `followLinks` a symbolic link describes itself.
bool StatAt(int folderFd, const char* name, bool followLinks, struct stat& st, FileTimesOf& times);
