#include "engine/EarlierIndex.h"

#include "archive/ArchiveFormat.h"
#include "core/ActivityLog.h"
#include "engine/DestinationFiles.h"
#include "i18n/Catalogue.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Two changes in one minute need a second name; a hundred means something
// else is wrong.
constexpr int kNameAttempts = 100;

// rename(2) that refuses to replace an existing target: errno, 0 when done.
int RenameWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    // File systems without the flag: a hard link fails on an existing target too.
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        return error;
    }
    return 0;
}

bool KeepLocally(const clsBackup& job, const DateTime& now, std::string& keptName,
                 std::string& why) {
    const std::string from = JoinPath(job.sDestinationDir, IndexFileName(job.sName));
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0 && errno == ENOENT)
        return true;
    int error = EEXIST;
    for (int attempt = 1; attempt <= kNameAttempts && error == EEXIST; ++attempt) {
        const std::string name = KeptIndexName(job.sName, now, attempt);
        error = RenameWithoutReplacing(from, JoinPath(job.sDestinationDir, name));
        if (error == 0)
            keptName = name;
    }
    if (error != 0)
        why = GetMsg("strMsgKeepIndexFailed", {{"%d", from}, {"%e", std::strerror(error)}});
    return error == 0;
}

// Says goodbye to the server however the caller returns.
struct QuitOnReturn {
    clsFTPConnection& ftp;
    ~QuitOnReturn() {
        if (ftp.connectionState() != clsFTPConnection::kDisconnected)
            ftp.Disconnect();
    }
};

std::string RemotePath(const clsBackup& job, const std::string& name) {
    return job.sDestinationDir + "/" + name;
}

// The names in the job's remote folder, or nothing with `reason` (a phrase).
// Leaves the connection open for what follows.
std::optional<std::vector<std::string>> RemoteNames(clsFTPConnection& ftp, const clsBackup& job,
                                                    std::string& reason) {
    const std::string host = job.objDestination ? job.objDestination->hostname : std::string();
    std::optional<std::vector<clsFTPFile>> files;
    if (!ConnectToDestination(ftp, job))
        reason = GetMsg("strMsgFetchNoConnection", "%d", host);
    else if (!ftp.ChangeCurrentDirectory(job.sDestinationDir))
        reason = GetMsg("strMsgKeepIndexNoFolder", "%d", job.sDestinationDir);
    else if (!(files = ftp.GetFileList()))
        reason = GetMsg("strMsgKeepIndexNoListing", "%d", job.sDestinationDir);
    if (!files)
        return std::nullopt;
    std::vector<std::string> names;
    for (const clsFTPFile& f : *files)
        names.push_back(f.strName);
    return names;
}

bool Listed(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Servers replace an existing target on rename: the listing says which
// names are free.
bool KeepRemotely(const clsBackup& job, const DateTime& now, std::string& keptName,
                  std::string& why) {
    const std::string index = IndexFileName(job.sName);
    clsFTPConnection ftp;
    QuitOnReturn quit{ftp};
    std::string reason;
    const auto names = RemoteNames(ftp, job, reason);
    if (names && !Listed(*names, index))
        return true;
    if (names) {
        std::string name = KeptIndexName(job.sName, now, 1);
        for (int attempt = 2; attempt <= kNameAttempts && Listed(*names, name); ++attempt)
            name = KeptIndexName(job.sName, now, attempt);
        if (!Listed(*names, name) && ftp.Rename(RemotePath(job, index), RemotePath(job, name)))
            keptName = name;
        else
            reason = GetMsg("strMsgKeepIndexRenameRefused", "%d", name);
    }
    if (keptName.empty())
        why = GetMsg("strMsgKeepIndexFailed", {{"%d", RemotePath(job, index)}, {"%e", reason}});
    return !keptName.empty();
}

} // namespace

bool ChangeNeedsNewSet(const clsBackup& before, const clsBackup& after) {
    // An unprotected job's archives do not depend on the password field.
    return before.sName != after.sName || before.Protected != after.Protected ||
           (after.Protected && before.password != after.password);
}

bool HasBackups(const clsBackup& oldJob) {
    const std::string index = IndexFileName(oldJob.sName);
    if (!oldJob.destFTP) {
        struct stat st {};
        return ::lstat(JoinPath(oldJob.sDestinationDir, index).c_str(), &st) == 0;
    }
    clsFTPConnection ftp;
    QuitOnReturn quit{ftp};
    std::string reason;
    const auto names = RemoteNames(ftp, oldJob, reason);
    return !names || Listed(*names, index);
}

std::string KeptIndexName(const std::string& jobName, const DateTime& until, int attempt) {
    const std::string again = attempt > 1 ? "-" + std::to_string(attempt) : std::string();
    return jobName + "-until-" + until.Format("yyyyMMddHHmm") + again + ".fs";
}

bool KeepEarlierIndex(const clsBackup& oldJob, std::string& keptName, std::string& why) {
    keptName.clear();
    why.clear();
    const DateTime now = ClockNow();
    const bool kept = oldJob.destFTP ? KeepRemotely(oldJob, now, keptName, why)
                                     : KeepLocally(oldJob, now, keptName, why);
    if (!keptName.empty())
        WriteLog(GetMsg("strMsgEarlierIndexKept",
                        {{"%d", IndexFileName(oldJob.sName)}, {"%n", keptName}}));
    else if (!kept)
        WriteLog(why);
    return kept;
}
