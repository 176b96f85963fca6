#include "engine/BackupRun.h"

#include "archive/ArchiveIndex.h"
#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "core/Progress.h"
#include "core/RunControl.h"
#include "core/host.h"
#include "engine/Delivery.h"
#include "engine/DestinationFiles.h"
#include "engine/SourceFiles.h"
#include "i18n/Catalogue.h"
#include "jobs/JobListFile.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/TextConvert.h"
#include "platform/TextUtil.h"

#include <cerrno>
#include <new>
#include <optional>
#include <unordered_map>

namespace {

// Where a step of the run leaves it.
enum class Step {
    Next,    // go on with the next step
    Summary, // straight to the summary: nothing (more) can be delivered
    Aborted, // the user cancelled, or the archive could not be made
    DiskFull,
    Failed, // the reason is logged; the job stays failed
};

std::string NowText() {
    return ClockNow().FormatLocale("%x %X");
}

// The run works on its own copy of the job; its results go to the job of
// that name in the list, whatever a window did to the list meanwhile.
void ReportResults(const clsBackup& job) {
    if (const std::shared_ptr<clsBackup> listed = FindBackup(job.sName)) {
        listed->enumStatus = job.enumStatus;
        listed->lastOK = job.lastOK;
        listed->ttlsize = job.ttlsize;
    }
}

void SaveResults(const clsBackup& job) {
    ReportResults(job);
    SaveBackups();
}

void ShowIfWindowVisible(const std::string& text, MsgIcon icon) {
    Host& host = CurrentHost();
    if (host.IsMainWindowVisible())
        host.MessageBox(text, MsgButtons::Ok, icon);
}

void LogSummary(int stored, int notStored, std::size_t total) {
    const std::string stars(72, '*');
    WriteLog(stars);
    WriteLog("*   " + GetMsg("strMsgFilesStored") + std::to_string(stored));
    WriteLog("*   " + GetMsg("strMsgFilesNotStored") + std::to_string(notStored));
    WriteLog("*   " + GetMsg("strMsgTotalFiles") + std::to_string(total));
    WriteLog(stars);
}

void ReportMediaFull() {
    const std::string text = GetMsg("strMsgBackupMediaFull");
    WriteLog(text);
    CurrentHost().MessageBox(text, MsgButtons::Ok, MsgIcon::Critical);
}

// A failed run's results are saved and the failure shown.
void FinishFailed(const std::string& name, clsBackup* job) {
    if (job != nullptr)
        SaveResults(*job);
    else
        SaveBackups();
    const std::string text = GetMsg("strMsgBackupFailed", "%d", name);
    WriteLog(text);
    ShowIfWindowVisible(text, MsgIcon::Critical);
}

// The end of every run that reached its summary, and of an unknown name.
void Finish(const std::string& name, clsBackup* job) {
    if (job != nullptr && job->enumStatus == kStatusFinished) {
        job->lastOK = ClockNow();
        SaveResults(*job);
        const std::string text =
            GetMsg("strMsgTermNormally", {{"%d", job->sName}, {"%t", NowText()}});
        SetStatusText(text);
        ShowIfWindowVisible(text, MsgIcon::Information);
        return;
    }
    FinishFailed(name, job);
}

class BackupRunner {
public:
    explicit BackupRunner(clsBackup& job) : job_(job), destination_(job) {}

    void Run() {
        WriteLog("Backup " + job_.sName + "...");
        job_.enumStatus = kStatusFailed;
        ReportResults(job_);
        SetStatusText(GetMsg("strMsgCreateListFiles"));
        ShowProgress(GetMsg("strMsgCreateListFiles"));
        if (!ListSources())
            return ErrorExit(Step::Aborted);
        FilterByMasks();
        SetStatusText(GetMsg("strMsgListOkContBkp"));

        Step step = job_.bIncremental ? DropWhatThePreviousIndexHolds() : Step::Next;
        if (step == Step::Failed)
            return ErrorExit(step);
        if (step == Step::Summary) {
            CloseProgress();
            return Summary();
        }
        job_.ttlsize = 0;
        for (const clsDskFile& f : list_)
            job_.ttlsize += f.dSize;
        if (job_.archived && (step = Archive()) != Step::Next) {
            CloseProgress();
            return ErrorExit(step);
        }

        CloseProgress();
        ShowProgress("");
        UpdateProgress(GetMsg("strMsgCopyToDest"), "", 0, 0);
        step = Deliver();
        if (step == Step::Aborted)
            return ErrorExit(step);
        if (step == Step::DiskFull) {
            ReportMediaFull();
            job_.enumStatus = kStatusFailed;
        }
        Summary();
    }

private:
    // Every source entry expanded into the list; false when cancelled.
    bool ListSources() {
        for (const clsBackupFile& entry : job_.Files) {
            if (gAbort)
                return false;
            if (entry.bForD != 0) {
                std::string folder = entry.sPath;
                while (folder.size() > 1 && folder.back() == '/')
                    folder.pop_back();
                SearchFiles(folder + "/*.*", list_);
                if (gAbort)
                    return false;
            } else {
                list_.push_back(SingleFileRecord(entry));
            }
            if (gPaused)
                PauseRun();
        }
        return true;
    }

    void FilterByMasks() {
        if (TrimBlanks(job_.ExcludeMask).empty() &&
            TrimBlanks(ReplaceAll(job_.IncludeMask, "*.*", "")).empty())
            return;
        SetStatusText(GetMsg("strMsgPerformFilterOp"));
        ApplyMaskFilter(list_, job_.IncludeMask, job_.ExcludeMask);
    }

    // The incremental selection. No index yet means a full selection; an
    // index that is there but cannot be read stops the run, since the
    // archive would otherwise replace it with one that lists only this run.
    Step DropWhatThePreviousIndexHolds() {
        if (!destination_.Connect()) {
            WriteLog(GetMsg("strMsgCantDLFileForInc"));
            return Step::Summary;
        }
        const std::string name = job_.sName + ".fs";
        // The archive continues the staged index: a copy left by an
        // interrupted run must never be taken for the real one.
        RemoveFile(JoinPath(TempFolder(), name));
        const DestinationFiles::Fetched fetched = destination_.Fetch(name);
        if (fetched.outcome == DestinationFiles::Fetched::Missing)
            return Step::Next;
        std::string cause = fetched.reason;
        IndexReport report;
        if (fetched.outcome == DestinationFiles::Fetched::Done &&
            !LoadIndexRecords(fetched.path, previous_, &report))
            cause = GetMsg("strMsgIndexDamaged", "%d", fetched.path);
        if (!cause.empty()) {
            WriteLog(GetMsg("strMsgIndexUnreadable", "%r", cause));
            return Step::Failed;
        }
        // Damaged lines stay in the index (the new session is appended to
        // it); their files are simply stored again, which the user should know.
        if (report.damagedLines > 0)
            WriteLog(GetMsg("strMsgIndexLinesDamaged",
                            {{"%d", job_.sName},
                             {"%n", std::to_string(report.damagedLines)},
                             {"%l", std::to_string(report.firstDamagedLine)},
                             {"%r", report.firstDamage}}));
        DropUnchangedFiles(list_, previous_);
        return Step::Next;
    }

    Step Archive() {
        const ArchiveResult made = CreateBackupArchive(job_, list_, previous_, destination_);
        notStored_ += made.refusedNames;
        switch (made.outcome) {
        case ArchiveResult::Done:
            return Step::Next;
        case ArchiveResult::StagingFailed:
            return Step::Failed;
        case ArchiveResult::DiskFull:
            return Step::DiskFull;
        default:
            return Step::Aborted;
        }
    }

    Step Deliver() {
        if (list_.empty()) {
            WriteLog(GetMsg("strMsgNoFilesForBackup"));
            return Step::Summary;
        }
        if (!destination_.Connect()) {
            WriteLog(GetMsg("strMsgFailUploadFiles"));
            return Step::Summary;
        }
        gAbort = false;
        double bytesDone = 0;
        double totalBytes = 0;
        for (const clsDskFile& f : list_)
            totalBytes += static_cast<double>(f.dSize);
        for (std::size_t i = 0; i < list_.size(); ++i) {
            const clsDskFile& file = list_[i];
            bytesDone += static_cast<double>(file.dSize);
            YieldAndHonourPause();
            if (gAbort) {
                CloseProgress();
                return Step::Aborted;
            }
            const DestinationFiles::Stored stored = destination_.Store(file);
            if (stored.done) {
                ++stored_;
            } else if (stored.error == ENOSPC) {
                // Nothing more fits: the rest is not stored either.
                notStored_ += static_cast<int>(list_.size() - i);
                return Step::DiskFull;
            } else {
                ++notStored_;
            }
            UpdateProgress(GetMsg("strMsgBackupProgress"), file.path + file.filename, 100,
                           100.0 * bytesDone / (totalBytes + 1));
            CurrentHost().Yield();
        }
        job_.enumStatus = kStatusFinished;
        return Step::Summary;
    }

    void ClearStaging() {
        if (job_.archived || job_.bIncremental)
            ClearTempFolder();
    }

    // The counts, the result and the job list saved.
    void Summary() {
        // Files the disk may not hold are not counted as stored.
        const bool onDisk = destination_.Close();
        ClearStaging();
        CloseProgress();
        LogSummary(stored_, notStored_, list_.size());
        const std::string& name = job_.sName;
        if (!onDisk) {
            job_.enumStatus = kStatusFailed;
            WriteLog(GetMsg("strMsgBackupFailed", "%d", name));
        } else if (notStored_ == 0 && !list_.empty() && stored_ == static_cast<int>(list_.size())) {
            job_.enumStatus = kStatusFinished;
            WriteLog(GetMsg("strMsgBakupFinishedOk", "%d", name));
            job_.lastOK = ClockNow();
        } else if (notStored_ != 0 || !list_.empty()) {
            job_.enumStatus = kStatusFailed;
            WriteLog(GetMsg("strMsgBackupFailed", "%d", name));
        } else {
            job_.enumStatus = kStatusFinished;
            WriteLog(GetMsg("strMsgNoFilesForBackup"));
        }
        Finish(name, &job_);
    }

    void ErrorExit(Step how) {
        if (how == Step::Aborted) {
            job_.enumStatus = kStatusAborted;
            SetStatusText(GetMsg("strMsgBackupAborted"));
        } else if (how == Step::DiskFull) {
            ReportMediaFull();
        } else {
            WriteLog(GetMsg("strMsgBackupFailed", "%d", job_.sName));
        }
        destination_.Close();
        ClearStaging();
        CloseProgress();
        SaveResults(job_);
        ShowIfWindowVisible(GetMsg("strMsgBackupFailed", "%d", job_.sName), MsgIcon::Critical);
    }

    clsBackup& job_;
    DestinationFiles destination_;
    FileList list_;
    std::vector<clsRestoreFileData> previous_;
    int stored_ = 0;
    int notStored_ = 0;
};

// A run that ended on an exception: the job is failed and says why. Nothing
// here may throw again.
void RuntimeErrorExit(const std::string& name, std::optional<clsBackup>& job,
                      const std::string& cause) noexcept {
    try {
        WriteLog(GetMsg("strMsgRunError", "%d", cause));
        if (job) {
            job->enumStatus = kStatusFailed;
            if (job->archived || job->bIncremental)
                ClearTempFolder();
        }
        CloseProgress();
        FinishFailed(name, job ? &*job : nullptr);
    } catch (...) {
        // The run flags are cleared all the same.
    }
}

// A link keeps the time it was made, and tools that copy links keep it too:
// only its target text tells whether it now leads elsewhere. A file that
// became a link, or a link that became a file, has changed.
bool SameKindAndLinkText(const clsDskFile& file, const clsRestoreFileData& record) {
    const bool link = IsLinkAttribute(file.dAttrib);
    if (link != IsLinkAttribute(record.Attrib))
        return false;
    std::string stored;
    return !link || (record.size == static_cast<std::int64_t>(file.linkTarget.size()) &&
                     ParseChecksumText(record.crc, stored) &&
                     stored == XorBlockChecksum(file.linkTarget, std::string(4, '\0')));
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
            if (!drop[i] && list[i].tLastWriteTimeGet() == record.tLastWriteTimeGet() &&
                SameKindAndLinkText(list[i], record)) {
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
    // One run at a time, and none while a restore holds the staging folder.
    if (gBackupRunning) {
        WriteLog(GetMsg("strMsgBackupPending"));
        return;
    }
    if (gRestoreHoldsStaging) {
        WriteLog(GetMsg("strMsgRestoreHoldsStaging", "%d", name));
        return;
    }
    const RunFlagsHeld held;
    std::optional<clsBackup> job;
    try {
        SaveBackups();
        WriteLog(GetMsg("strMsgBackupStartedAt") + NowText());
        const std::shared_ptr<clsBackup> listed = FindBackup(name);
        if (!listed)
            return Finish(name, nullptr);
        job.emplace(*listed);
        BackupRunner(*job).Run();
    } catch (const std::bad_alloc&) {
        RuntimeErrorExit(name, job, GetMsg("strMsgOutOfMemory"));
    } catch (const std::exception& e) {
        RuntimeErrorExit(name, job, e.what());
    } catch (...) {
        RuntimeErrorExit(name, job, std::string());
    }
    FlushLog();
}
