#include "engine/Delivery.h"

#include "archive/clsArchive.h"
#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "core/Progress.h"
#include "i18n/Catalogue.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/TextConvert.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

namespace {

bool VolumeNameTaken(const std::string& base, const std::vector<clsRestoreFileData>& previous,
                     const DestinationFiles& destination) {
    for (const clsRestoreFileData& r : previous) {
        for (const std::string* name : {&r.arcStart, &r.arcEnd}) {
            if (*name == base || name->rfind(base + "-", 0) == 0)
                return true;
        }
    }
    return destination.Holds(base + ".darc");
}

// Two incremental runs within one minute would otherwise both be named after
// that minute, and the second would overwrite a volume the index still needs.
std::string IncrementalArchiveName(const clsBackup& job,
                                   const std::vector<clsRestoreFileData>& previous,
                                   const DestinationFiles& destination) {
    DateTime moment = ClockNow();
    for (int minutes = 0; minutes < 60 * 24 * 366; ++minutes) {
        const std::string name = job.sName + moment.Format("yyyyMMddHHmm");
        if (!VolumeNameTaken(name, previous, destination))
            return name;
        moment = moment.AddSeconds(60);
    }
    return job.sName + ClockNow().Format("yyyyMMddHHmmss");
}

// The session stamp is a session's key in the index: a run within the same
// second as an earlier session of that index takes the next free second.
DateTime FreeSessionStamp(const std::vector<clsRestoreFileData>& previous) {
    std::set<std::int64_t> taken;
    for (const clsRestoreFileData& r : previous)
        taken.insert(r.dSession.SerialSeconds());
    DateTime stamp = ClockNow();
    while (taken.count(stamp.SerialSeconds()) != 0)
        stamp = stamp.AddSeconds(1);
    return stamp;
}

// A name as the log can show it: line breaks written out, so the log line stays one line.
std::string Shown(const std::string& name) {
    return ReplaceAll(ReplaceAll(name, "\r", "\\r"), "\n", "\\n");
}

ArchiveResult::Outcome StagingFailure(int err) {
    if (err == ENOSPC)
        return ArchiveResult::DiskFull;
    std::string text = GetMsg("strMsgStagingFailed", "%d", TempFolder());
    if (err != 0)
        text += " (" + std::string(std::strerror(err)) + ")";
    WriteLog(text);
    return ArchiveResult::StagingFailed;
}

// The volumes in creation order followed by the index, sized for the
// delivery's progress once they are complete.
FileList DeliveryList(const clsArchive& archive, const std::string& jobName) {
    FileList delivered;
    if (archive.Volumes.empty())
        return delivered;
    delivered = archive.Volumes;
    for (clsDskFile& volume : delivered)
        volume.dSize = std::max<std::int64_t>(FileSize(volume.FullName()), 0);
    clsDskFile index;
    index.filename = jobName + ".fs";
    index.path = archive.Volumes.back().path;
    index.dSize = std::max<std::int64_t>(FileSize(index.FullName()), 0);
    delivered.push_back(index);
    return delivered;
}

} // namespace

ArchiveResult CreateBackupArchive(clsBackup& job, FileList& list,
                                  const std::vector<clsRestoreFileData>& previous,
                                  const DestinationFiles& destination) {
    ArchiveResult result;
    clsArchive archive;
    archive.dSessionDate = FreeSessionStamp(previous);
    archive.sArcfName =
        job.bIncremental ? IncrementalArchiveName(job, previous, destination) : job.sName;
    archive.NewArchive(job.sName, !job.bIncremental, job.bZipped, job.ttlsize);
    archive.bSplit = job.archived;
    archive.splitSize = job.splitSize;
    if (!archive.IsOpened) {
        // The user gave up on a staging folder that could not be prepared.
        result.outcome = gAbort ? ArchiveResult::Aborted : StagingFailure(0);
        return result;
    }

    ShowProgress(GetMsg("strMsgCreatingBkpArc"));
    std::size_t added = 0;
    for (const clsDskFile& file : list) {
        if (gPaused)
            PauseRun();
        const std::string fullName = file.FullName();
        if (!FitsInIndexLine(fullName)) {
            WriteLog(GetMsg("strMsgNameNotStorable", "%d", Shown(fullName)));
            ++result.refusedNames;
            continue;
        }
        const int code = archive.AddFileToArchive(file, false);
        if (archive.StagingFailed()) {
            result.outcome = StagingFailure(archive.LastErrno());
            return result;
        }
        switch (code) {
        case clsArchive::kAddStored:
            WriteFileRecord(GetMsg("strMsgAddedToArcOk", "%d", fullName));
            ++added;
            break;
        case clsArchive::kAddFailed:
            WriteLog(GetMsg("strMsgAddedToArcFail", "%d", fullName));
            result.outcome = ArchiveResult::Aborted;
            return result;
        case clsArchive::kAddStopped:
            WriteLog(fullName + " aborted");
            result.outcome = ArchiveResult::Aborted;
            return result;
        case clsArchive::kAddCannotOpen:
            WriteLog(GetMsg("strMsgOpenFailed", "%d", fullName));
            break;
        default:
            break;
        }
        if (gAbort) {
            job.enumStatus = kStatusAborted;
            result.outcome = ArchiveResult::Aborted;
            return result;
        }
    }
    WriteLog(std::to_string(added) + "-" + std::to_string(list.size()));
    // A compressed volume is complete, and sized right, once it is closed.
    if (!archive.CloseArchive()) {
        result.outcome = StagingFailure(archive.LastErrno());
        return result;
    }
    list = DeliveryList(archive, job.sName);
    result.outcome = ArchiveResult::Done;
    return result;
}

void ClearTempFolder() {
    const std::string temp = TempFolder();
    for (const std::string& name : ListFileNames(temp))
        RemoveFile(JoinPath(temp, name));
}
