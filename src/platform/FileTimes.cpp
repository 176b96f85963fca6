#include "platform/FileTimes.h"

#include <fcntl.h>
#include <sys/stat.h>

FileTimeHalves FileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds) {
    const std::int64_t ticks = seconds * 10000000 + nanoseconds / 100;
    return FileTimeHalves::FromValue(static_cast<std::uint64_t>(ticks) + kUnixEpochAsFileTime);
}

struct timespec UnixFromFileTime(const FileTimeHalves& t) {
    const std::int64_t ticks =
        static_cast<std::int64_t>(t.Value()) - static_cast<std::int64_t>(kUnixEpochAsFileTime);
    std::int64_t seconds = ticks / 10000000;
    std::int64_t rest = ticks % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --seconds;
    }
    struct timespec ts {};
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>(rest * 100);
    return ts;
}

std::uint32_t AttributeWord(const struct stat& st, const std::string& name) {
    std::uint32_t word = static_cast<std::uint32_t>(st.st_mode & 0xFFFF) << 16;
    if ((st.st_mode & S_IWUSR) == 0)
        word |= kAttrReadOnly;
    if (!name.empty() && name[0] == '.')
        word |= kAttrHidden;
    if (S_ISDIR(st.st_mode))
        word |= kAttrDirectory;
    if (S_ISREG(st.st_mode))
        word |= kAttrArchive;
    return word;
}

FileTimesOf FileTimesFromStat(const struct stat& st) {
    FileTimesOf t;
    t.creation = FileTimeFromUnix(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
    t.lastAccess = FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    t.lastWrite = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    return t;
}

FileTimesOf ReadFileTimes(const std::string& path, const struct stat& st) {
    FileTimesOf t = FileTimesFromStat(st);
#ifdef STATX_BTIME
    struct statx sx {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
        t.creation = FileTimeFromUnix(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
#else
    (void)path;
#endif
    return t;
}

bool StatAt(int folderFd, const char* name, bool followLinks, struct stat& st, FileTimesOf& times) {
#ifdef STATX_BTIME
    struct statx sx {};
    const int flags = followLinks ? 0 : AT_SYMLINK_NOFOLLOW;
    if (::statx(folderFd, name, flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return false;
    st = {};
    st.st_mode = sx.stx_mode;
    st.st_size = static_cast<off_t>(sx.stx_size);
    st.st_nlink = sx.stx_nlink;
    st.st_uid = sx.stx_uid;
    st.st_gid = sx.stx_gid;
    st.st_ino = sx.stx_ino;
    st.st_atim = {static_cast<time_t>(sx.stx_atime.tv_sec), sx.stx_atime.tv_nsec};
    st.st_mtim = {static_cast<time_t>(sx.stx_mtime.tv_sec), sx.stx_mtime.tv_nsec};
    st.st_ctim = {static_cast<time_t>(sx.stx_ctime.tv_sec), sx.stx_ctime.tv_nsec};
    times = FileTimesFromStat(st);
    if (sx.stx_mask & STATX_BTIME)
        times.creation = FileTimeFromUnix(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
    return true;
#else
    if (::fstatat(folderFd, name, &st, followLinks ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    times = FileTimesFromStat(st);
    return true;
#endif
}
