#include "engine/BackupRun.h"

#include "archive/ArchiveIndex.h"
#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "core/host.h"
#include "engine/Delivery.h"
#include "engine/Encryption.h"
#include "core/Progress.h"
#include "engine/SourceFiles.h"
#include "ftp/clsFTPConnection.h"
#include "i18n/Catalogue.h"
#include "jobs/JobListFile.h"
#include "platform/Clock.h"
#include "platform/FileCopy.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/TextConvert.h"

#include <cerrno>
#include <fcntl.h>
#include <set>
#include <unistd.h>
#include <unordered_map>

namespace {

// How a run ended before its summary.
enum class RunExit { Summary, Aborted, DiskFull };

std::string NowText() {
    return ClockNow().FormatLocale("%x %X");
}

std::string StagedIndexPath(const clsBackup& job) {
    return JoinPath(TempFolder(), job.sName + ".fs");
}

// Step 7: every source entry expanded into the file list.
bool ListSources(const clsBackup& job, FileList& list) {
    for (const clsBackupFile& entry : job.Files) {
        if (gAbort)
            return false;
        if (entry.bForD != 0) {
            std::string folder = entry.sPath;
            while (folder.size() > 1 && folder.back() == '/')
                folder.pop_back();
            SearchFiles(folder + "/*.*", list);
            if (gAbort)
                return false;
        } else {
            list.push_back(SingleFileRecord(entry));
        }
        if (gPaused)
            PauseRun();
    }
    return true;
}

enum class PreviousIndex { Fetched, None, NoConnection };

// Step 10.1: the previous index into the staging folder.
PreviousIndex FetchPreviousIndex(const clsBackup& job, clsFTPConnection& ftp) {
    const std::string staged = StagedIndexPath(job);
    // A copy left by an interrupted run must never be taken for the real one.
    RemoveFile(staged);
    if (job.destFTP) {
        if (!ConnectToDestination(ftp, job)) {
            WriteLog(GetMsg("strMsgCantDLFileForInc"));
            return PreviousIndex::NoConnection;
        }
        const std::string remote = job.sDestinationDir + "/" + job.sName + ".fs";
        if (ftp.GetFile(remote, staged) != clsFTPConnection::kGetFileDone) {
            WriteLog(GetMsg("strMsgDownloadFailed", "%d", remote));
            RemoveFile(staged);
            return PreviousIndex::None;
        }
        return PreviousIndex::Fetched;
    }
    const std::string previous = JoinPath(job.sDestinationDir, job.sName + ".fs");
    if (!FileExists(previous))
        return PreviousIndex::None;
    return CopyFileReplacing(previous, staged) == 0 ? PreviousIndex::Fetched : PreviousIndex::None;
}

// The volume names the previous sessions refer to: an incremental archive
// must not reuse them.
std::set<std::string> VolumesInUse(const std::vector<clsRestoreFileData>& records) {
    std::set<std::string> names;
    for (const clsRestoreFileData& r : records) {
        names.insert(r.arcStart);
        names.insert(r.arcEnd);
    }
    return names;
}

void LogSummary(int stored, int notStored, std::size_t total) {
    const std::string stars(72, '*');
    WriteLog(stars);
    WriteLog("*   " + GetMsg("strMsgFilesStored") + std::to_string(stored));
    WriteLog("*   " + GetMsg("strMsgFilesNotStored") + std::to_string(notStored));
    WriteLog("*   " + GetMsg("strMsgTotalFiles") + std::to_string(total));
    WriteLog(stars);
}

// A protected plain copy is encrypted on a staging copy: the user's own file
// is never touched. The copy keeps the file's name (an upload is stored
// under it) in a folder of its own.
std::string StageForEncryption(const clsDskFile& file, int& error) {
    std::string folder = JoinPath(TempFolder(), ".enc-XXXXXX");
    if (::mkdtemp(folder.data()) == nullptr) {
        error = errno;
        return std::string();
    }
    const std::string staged = JoinPath(folder, file.filename);
    error = CopyFileReplacing(file.FullName(), staged);
    if (error != 0) {
        ::rmdir(folder.c_str());
        return std::string();
    }
    return staged;
}

void RemoveStagedCopy(const std::string& staged) {
    RemoveFile(staged);
    ::rmdir(ParentFolder(staged).c_str());
}

struct Counters {
    int stored = 0;
    int notStored = 0;
};

// Step 14: every file of the list to the destination.
RunExit Deliver(clsBackup& job, FileList& list, Counters& counts, clsFTPConnection& ftp) {
    if (list.empty()) {
        WriteLog(GetMsg("strMsgNoFilesForBackup"));
        return RunExit::Summary;
    }
    if (job.destFTP && ftp.connectionState() == 1 && !ConnectToDestination(ftp, job)) {
        WriteLog(GetMsg("strMsgFailUploadFiles"));
        return RunExit::Summary;
    }
    gAbort = false;
    double bytesDone = 0;
    double totalBytes = 0;
    for (const clsDskFile& f : list)
        totalBytes += static_cast<double>(f.dSize);
    for (std::size_t i = 0; i < list.size(); ++i) {
        const clsDskFile& file = list[i];
        bytesDone += static_cast<double>(file.dSize);
        YieldAndHonourPause();
        if (gAbort) {
            CloseProgress();
            return RunExit::Aborted;
        }
        std::string deliverFrom;
        int error = 0;
        bool ready = true;
        if (job.Protected) {
            // Archives and the index live in the staging folder and may be
            // encrypted in place; a plain copy's source is the user's file.
            deliverFrom = job.archived ? file.FullName() : StageForEncryption(file, error);
            ready = !deliverFrom.empty() && EncryptFile(deliverFrom, job.password);
        }
        int result = kDeliverFailed;
        if (ready && job.destFTP)
            result = UploadToDestination(ftp, job, file, deliverFrom);
        else if (ready)
            result = CopyToDestination(job, file, deliverFrom, &error);
        if (job.Protected && !job.archived && !deliverFrom.empty())
            RemoveStagedCopy(deliverFrom);
        if (result == kDeliverOk) {
            ++counts.stored;
        } else {
            ++counts.notStored;
            WriteLog(ReplaceAll(GetMsg("strMsgFileCopyFail", "%s", file.FullName()), "%d",
                                DestinationFolderFor(job, file)));
            if (error == ENOSPC) {
                // Nothing more fits: the rest is not stored either.
                counts.notStored += static_cast<int>(list.size() - i - 1);
                return RunExit::DiskFull;
            }
        }
        UpdateProgress(GetMsg("strMsgBackupProgress"), file.path + file.filename, 100,
                       100.0 * bytesDone / (totalBytes + 1));
        CurrentHost().Yield();
    }
    job.enumStatus = kStatusFinished;
    return RunExit::Summary;
}

void ReportMediaFull() {
    const std::string text = GetMsg("strMsgBackupMediaFull");
    WriteLog(text);
    CurrentHost().MessageBox(text, MsgButtons::Ok, MsgIcon::Critical);
}

// Step 16: the error exit.
void ErrorExit(clsBackup& job, RunExit how) {
    if (how == RunExit::Aborted) {
        job.enumStatus = kStatusAborted;
        SetStatusText(GetMsg("strMsgBackupAborted"));
    } else if (how == RunExit::DiskFull) {
        ReportMediaFull();
    } else {
        WriteLog(GetMsg("strMsgBackupFailed", "%d", job.sName));
    }
    if (job.archived)
        ClearTempFolder();
    CloseProgress();
    SaveBackups();
    gBackupRunning = false;
    Host& host = CurrentHost();
    if (host.IsMainWindowVisible())
        host.MessageBox(GetMsg("strMsgBackupFailed", "%d", job.sName), MsgButtons::Ok,
                        MsgIcon::Critical);
    host.SetSchedulerTimer(true);
}

void Finish(const std::string& name, clsBackup* job) {
    SaveBackups();
    gBackupRunning = false;
    Host& host = CurrentHost();
    if (job != nullptr && job->enumStatus == kStatusFinished) {
        const std::string text =
            ReplaceAll(GetMsg("strMsgTermNormally", "%d", job->sName), "%t", NowText());
        SetStatusText(text);
        job->lastOK = ClockNow();
        if (host.IsMainWindowVisible())
            host.MessageBox(text, MsgButtons::Ok, MsgIcon::Information);
    } else {
        const std::string text = GetMsg("strMsgBackupFailed", "%d", name);
        WriteLog(text);
        if (host.IsMainWindowVisible())
            host.MessageBox(text, MsgButtons::Ok, MsgIcon::Critical);
    }
    host.SetSchedulerTimer(true);
}

// Steps 15 and 17: the summary, the result and the job list saved.
void FinishRun(const std::string& name, clsBackup& job, const FileList& list,
               const Counters& counts, clsFTPConnection& ftp) {
    if (ftp.connectionState() != 1)
        ftp.Disconnect();
    // What was delivered is on the disk before the run calls itself done.
    if (!job.destFTP && counts.stored > 0) {
        const int fd = ::open(job.sDestinationDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            ::syncfs(fd);
            ::close(fd);
        }
    }

    // 15. Summary.
    if (job.archived)
        ClearTempFolder();
    CloseProgress();
    LogSummary(counts.stored, counts.notStored, list.size());
    if (!list.empty() && counts.stored == static_cast<int>(list.size())) {
        job.enumStatus = kStatusFinished;
        WriteLog(GetMsg("strMsgBakupFinishedOk", "%d", name));
        job.lastOK = ClockNow();
    } else if (!list.empty()) {
        job.enumStatus = kStatusFailed;
        WriteLog(GetMsg("strMsgBackupFailed", "%d", name));
    } else {
        job.enumStatus = kStatusFinished;
        WriteLog(GetMsg("strMsgNoFilesForBackup"));
    }
    Finish(name, &job);
}

} // namespace

void DropUnchangedFiles(FileList& list, const std::vector<clsRestoreFileData>& records) {
    // Full name -> positions in list order; a record takes the first file of
    // its name with the same write time that no earlier record took.
    std::unordered_map<std::string, std::vector<std::size_t>> byName;
    byName.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i)
        byName[list[i].FullName()].push_back(i);
    std::vector<bool> drop(list.size(), false);
    for (const clsRestoreFileData& record : records) {
        const auto it = byName.find(record.fname);
        if (it == byName.end())
            continue;
        for (const std::size_t i : it->second) {
            if (!drop[i] && list[i].tLastWriteTimeGet() == record.tLastWriteTimeGet()) {
                drop[i] = true;
                break;
            }
        }
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!drop[i]) {
            if (kept != i)
                list[kept] = std::move(list[i]);
            ++kept;
        }
    }
    list.resize(kept);
}

void RunBackup(const std::string& name) {
    Host& host = CurrentHost();
    // 1. One run at a time.
    if (gBackupRunning) {
        WriteLog(GetMsg("strMsgBackupPending"));
        return;
    }
    // 2-3.
    SaveBackups();
    host.SetSchedulerTimer(false);
    gSkipRequest = false;
    gAbort = false;
    gPaused = false;
    WriteLog(GetMsg("strMsgBackupStartedAt") + NowText());
    gBackupRunning = true;

    // 4. The job, by exact name. It stays alive even if it is deleted meanwhile.
    const std::shared_ptr<clsBackup> found = FindBackup(name);
    if (!found) {
        Finish(name, nullptr);
        return;
    }
    clsBackup& job = *found;

    // 5-6.
    WriteLog("Backup " + job.sName + "...");
    job.enumStatus = kStatusFailed;
    FileList list;
    SetStatusText(GetMsg("strMsgCreateListFiles"));
    ShowProgress(GetMsg("strMsgCreateListFiles"));

    // 7. Sources.
    if (!ListSources(job, list)) {
        ErrorExit(job, RunExit::Aborted);
        return;
    }
    // 8. Masks.
    if (!TrimBlanks(job.ExcludeMask).empty() ||
        !TrimBlanks(ReplaceAll(job.IncludeMask, "*.*", "")).empty()) {
        SetStatusText(GetMsg("strMsgPerformFilterOp"));
        ApplyMaskFilter(list, job.IncludeMask, job.ExcludeMask);
    }
    // 9.
    SetStatusText(GetMsg("strMsgListOkContBkp"));

    // 10. Incremental selection against the previous index.
    clsFTPConnection ftp;
    std::vector<clsRestoreFileData> previous;
    const PreviousIndex fetched =
        job.bIncremental ? FetchPreviousIndex(job, ftp) : PreviousIndex::None;
    if (fetched == PreviousIndex::NoConnection) {
        // Nothing can be delivered: the summary shows what was listed.
        CloseProgress();
        FinishRun(name, job, list, Counters{}, ftp);
        return;
    }
    if (fetched == PreviousIndex::Fetched) {
        const std::string staged = StagedIndexPath(job);
        bool readable = !job.Protected || DecryptFile(staged, job.password);
        if (readable && !LoadIndexRecords(staged, previous)) {
            readable = false;
            previous.clear();
        }
        if (readable)
            DropUnchangedFiles(list, previous);
        else
            RemoveFile(staged); // unreadable: a fresh index rather than a damaged one
    }

    // 11.
    std::int64_t total = 0;
    for (const clsDskFile& f : list)
        total += f.dSize;
    job.ttlsize = total;

    // 12. Archives.
    if (job.archived) {
        bool diskFull = false;
        if (CreateBackupArchive(job, list, VolumesInUse(previous), &diskFull) != kDeliverOk) {
            CloseProgress();
            ErrorExit(job, diskFull ? RunExit::DiskFull : RunExit::Aborted);
            return;
        }
    }

    // 13.
    CloseProgress();
    ShowProgress("");
    UpdateProgress(GetMsg("strMsgCopyToDest"), "", 0, 0);

    // 14. Delivery.
    Counters counts;
    const RunExit delivered = Deliver(job, list, counts, ftp);
    if (delivered == RunExit::Aborted) {
        if (ftp.connectionState() != 1)
            ftp.Disconnect();
        ErrorExit(job, RunExit::Aborted);
        return;
    }
    if (delivered == RunExit::DiskFull) {
        ReportMediaFull();
        job.enumStatus = kStatusFailed;
    }
    FinishRun(name, job, list, counts, ftp);
}
