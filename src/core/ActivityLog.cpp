#include "core/ActivityLog.h"

#include "core/Globals.h"
#include "core/host.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/TextUtil.h"
#include "platform/UniqueFd.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void ShowInActivityList(const std::string& stamp, const std::string& message) {
    Host& host = CurrentHost();
    if (message.find("\r\n") != std::string::npos) {
        std::size_t pos = 0;
        for (;;) {
            const std::size_t end = message.find("\r\n", pos);
            const std::string part = message.substr(pos, end - pos);
            host.AddActivityLine(stamp + part);
            host.SetLastLogLine(part);
            if (end == std::string::npos)
                break;
            pos = end + 2;
        }
    } else if (!TrimBlanks(message).empty()) {
        host.AddActivityLine(stamp + message);
        host.SetLastLogLine(message);
    }
}

// The first free name of tidevault.log001 ... 999. When every name is taken
// there is nowhere to rotate to: the current log then simply keeps growing,
// because dropping an old file would lose records and a user reads the log
// precisely when something went wrong.
std::string FreeRotationName(const std::string& log) {
    char suffix[8];
    for (int n = 1; n <= 999; ++n) {
        std::snprintf(suffix, sizeof suffix, "%03d", n);
        const std::string candidate = log + suffix;
        if (!FileExists(candidate) && !FolderExists(candidate))
            return candidate;
    }
    return std::string();
}

// The log stays open between records: a run writes one per file, and
// reopening it each time would cost more than the copy of a small file.
// For the same reason file records wait in memory and go out in one write.
class LogFile {
public:
    ~LogFile() {
        Flush();
        Close();
    }

    void Append(const std::string& log, const std::string& record) {
        Flush();
        Write(log, record);
    }

    void AppendLater(const std::string& log, const std::string& record) {
        const auto now = std::chrono::steady_clock::now();
        if (waiting_.empty()) {
            waitingPath_ = log;
            waitingSince_ = now;
        } else if (waitingPath_ != log) {
            Flush();
            return AppendLater(log, record);
        }
        waiting_ += record;
        if (waiting_.size() >= kMaxWaiting || now - waitingSince_ >= std::chrono::seconds(1))
            Flush();
    }

    void Flush() {
        if (waiting_.empty())
            return;
        std::string records;
        records.swap(waiting_);
        Write(waitingPath_, records);
    }

    void Close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    static constexpr std::size_t kMaxWaiting = 64 * 1024;

    void Write(const std::string& log, const std::string& record) {
        if (fd_ >= 0 && path_ != log)
            Close();
        if (fd_ < 0 && !Open(log))
            return;
        // Another process may append too: the size is looked at every time.
        struct stat st {};
        if (::fstat(fd_, &st) == 0 && st.st_size > kLogRotateSize) {
            Close();
            const std::string target = FreeRotationName(log);
            if (!target.empty())
                RenameFile(log, target);
            if (!Open(log))
                return;
        }
        // A record that cannot be written is dropped: logging never fails its caller.
        (void)WriteAll(fd_, record.data(), record.size());
    }

    bool Open(const std::string& log) {
        const std::string folder = ParentFolder(log);
        fd_ = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0 && errno == ENOENT && CreateFolderPath(folder))
            fd_ = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        path_ = log;
        if (fd_ < 0)
            return false;
        // The log names paths, hosts and users, so it is its owner's alone, as
        // the job list is. A folder or file left readable by an earlier version
        // is tightened here; a rotated log keeps the mode of the file it was.
        struct stat st {};
        if (::fstat(fd_, &st) == 0 && (st.st_mode & 077) != 0)
            ::fchmod(fd_, 0600);
        if (::stat(folder.c_str(), &st) == 0 && (st.st_mode & 077) != 0)
            ::chmod(folder.c_str(), 0700);
        return true;
    }

    int fd_ = -1;
    std::string path_;
    std::string waiting_;
    std::string waitingPath_;
    std::chrono::steady_clock::time_point waitingSince_;
};

LogFile gLogFile;

} // namespace

std::string LogFilePath() {
    return JoinPath(LogsFolder(), "tidevault.log");
}

std::string LogTimeStamp() {
    // A run logs thousands of records a second: the text is made once a second.
    static std::int64_t shownSecond = -1;
    static std::string shown;
    const DateTime now = ClockNow();
    if (now.SerialSeconds() != shownSecond) {
        shown = "[" + now.FormatLocale("%Y %b %d %H:%M:%S") + "]-";
        shownSecond = now.SerialSeconds();
    }
    return shown;
}

void WriteLog(const std::string& message) {
    const std::string stamp = LogTimeStamp();
    ShowInActivityList(stamp, message);
    gLogFile.Append(LogFilePath(), stamp + message + "\r\n");
}

void WriteFileRecord(const std::string& message) {
    const std::string stamp = LogTimeStamp();
    ShowInActivityList(stamp, message);
    gLogFile.AppendLater(LogFilePath(), stamp + message + "\r\n");
}

void FlushLog() {
    gLogFile.Flush();
}

void SetStatusText(const std::string& text) {
    Host& host = CurrentHost();
    host.SetStatusText(text);
    host.Yield();
}
