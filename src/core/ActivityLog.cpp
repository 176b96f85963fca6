#include "core/ActivityLog.h"

#include "core/Globals.h"
#include "core/host.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

void ShowInActivityList(const std::string& message) {
    Host& host = CurrentHost();
    const std::string stamp = LogTimeStamp();
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

void RotateWhenFull(const std::string& log) {
    if (FileSize(log) <= kLogRotateSize)
        return;
    const std::string target = FreeRotationName(log);
    if (!target.empty())
        RenameFile(log, target);
}

void AppendRecord(const std::string& log, const std::string& record) {
    const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    std::size_t done = 0;
    while (done < record.size()) {
        const ssize_t n = ::write(fd, record.data() + done, record.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

} // namespace

std::string LogFilePath() {
    return JoinPath(LogsFolder(), "tidevault.log");
}

std::string LogTimeStamp() {
    return "[" + ClockNow().FormatLocale("%Y %b %d %H:%M:%S") + "]-";
}

void WriteLog(const std::string& message) {
    ShowInActivityList(message);
    if (!FolderExists(LogsFolder()))
        CreateFolderPath(LogsFolder());
    const std::string log = LogFilePath();
    RotateWhenFull(log);
    AppendRecord(log, LogTimeStamp() + message + "\r\n");
}

void SetStatusText(const std::string& text) {
    Host& host = CurrentHost();
    host.SetStatusText(text);
    host.Yield();
}
