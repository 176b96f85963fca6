#include "engine/Delivery.h"

#include "archive/clsArchive.h"
#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "core/Progress.h"
#include "ftp/clsFTPConnection.h"
#include "i18n/Catalogue.h"
#include "platform/Clock.h"
#include "platform/FileCopy.h"
#include "platform/FileSystem.h"
#include "platform/TextConvert.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace {

bool VolumeNameTaken(const std::string& base, const std::set<std::string>& taken,
                     const std::string& destination) {
    for (const std::string& name : taken) {
        if (name == base || name.rfind(base + "-", 0) == 0)
            return true;
    }
    return FileExists(JoinPath(destination, base + ".darc"));
}

// Two incremental runs within one minute would otherwise both be named after
// that minute, and the second would overwrite a volume the index still needs.
std::string IncrementalArchiveName(const clsBackup& job, const std::set<std::string>& taken) {
    DateTime moment = ClockNow();
    for (int minutes = 0; minutes < 60 * 24 * 366; ++minutes) {
        const std::string name = job.sName + moment.Format("yyyyMMddHHmm");
        if (!VolumeNameTaken(name, taken, job.destFTP ? std::string() : job.sDestinationDir))
            return name;
        moment = moment.AddSeconds(60);
    }
    return job.sName + ClockNow().Format("yyyyMMddHHmmss");
}

// Volumes and the index are emptied from the staging folder right after
// delivery anyway: on the same file system they are moved, not copied, which
// spares writing every byte twice. A rename replaces the target atomically.
bool MoveStagedFile(const std::string& source, const std::string& target) {
    const std::string staging = TempFolder() + "/";
    if (source.compare(0, staging.size(), staging) != 0)
        return false;
    return ::rename(source.c_str(), target.c_str()) == 0;
}

} // namespace

int CreateBackupArchive(clsBackup& job, FileList& list, const std::set<std::string>& takenVolumes,
                        bool* diskFull) {
    clsArchive archive;
    archive.dSessionDate = ClockNow();
    archive.sArcfName = job.bIncremental ? IncrementalArchiveName(job, takenVolumes) : job.sName;
    archive.NewArchive(job.sName, !job.bIncremental, job.bZipped, job.ttlsize);
    archive.bSplit = job.archived;
    archive.splitSize = job.splitSize;
    if (!archive.IsOpened)
        return kDeliverFailed;

    ShowProgress(GetMsg("strMsgCreatingBkpArc"));
    std::size_t added = 0;
    for (const clsDskFile& file : list) {
        if (gPaused)
            PauseRun();
        const std::string fullName = file.FullName();
        const int code = archive.AddFileToArchive(file, false);
        switch (code) {
        case 1:
            WriteLog(GetMsg("strMsgAddedToArcOk", "%d", fullName));
            ++added;
            break;
        case 2:
            WriteLog(GetMsg("strMsgAddedToArcFail", "%d", fullName));
            if (diskFull != nullptr)
                *diskFull = archive.LastErrno() == ENOSPC;
            archive.CloseArchive();
            return kDeliverFailed;
        case 10:
            WriteLog(fullName + " aborted");
            archive.CloseArchive();
            return kDeliverFailed;
        case 14:
            WriteLog(GetMsg("strMsgOpenFailed", "%d", fullName));
            break;
        default:
            break;
        }
        if (gAbort) {
            job.enumStatus = kStatusAborted;
            archive.CloseArchive();
            return kDeliverFailed;
        }
    }
    WriteLog(std::to_string(added) + "-" + std::to_string(list.size()));

    FileList delivered;
    if (!archive.Volumes.empty()) {
        delivered = archive.Volumes;
        // Sizes for the delivery's progress, measured once the volumes are complete.
        for (clsDskFile& volume : delivered)
            volume.dSize = std::max<std::int64_t>(FileSize(volume.FullName()), 0);
        clsDskFile index;
        index.filename = job.sName + ".fs";
        index.path = archive.Volumes.back().path;
        index.dSize = FileSize(index.FullName());
        delivered.push_back(index);
    }
    list = std::move(delivered);
    archive.CloseArchive();
    return kDeliverOk;
}

std::string DestinationFolderFor(const clsBackup& job, const clsDskFile& file) {
    std::string destination = job.sDestinationDir;
    while (destination.size() > 1 && destination.back() == '/')
        destination.pop_back();
    if (!job.archived) {
        std::string folder = StripDrivePrefix(file.path);
        if (!folder.empty() && folder.back() == '/')
            folder.pop_back();
        return destination + folder;
    }
    const std::size_t at = file.path.find(job.sName + "/");
    if (at == std::string::npos)
        return destination;
    std::string rest = file.path.substr(at);
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    return JoinPath(destination, rest);
}

int CopyToDestination(const clsBackup& job, const clsDskFile& file, const std::string& deliverFrom,
                      int* error) {
    const std::string folder = DestinationFolderFor(job, file);
    const std::string source = deliverFrom.empty() ? file.FullName() : deliverFrom;
    const std::string target = JoinPath(folder, file.filename);
    int failure = 0;
    if (!CreateFolderPath(folder))
        failure = errno != 0 ? errno : EIO;
    else if (!MoveStagedFile(source, target))
        failure = CopyFileReplacing(source, target);
    if (failure != 0) {
        if (error != nullptr)
            *error = failure;
        return kDeliverFailed;
    }
    WriteLog(ReplaceAll(GetMsg("strMsgFileCopyOk", "%s", file.FullName()), "%d", target));
    return kDeliverOk;
}

bool ConnectToDestination(clsFTPConnection& connection, const clsBackup& job) {
    if (!job.objDestination)
        return false;
    const clsTidevault& d = *job.objDestination;
    connection.SetupConnection(d.hostname, d.port, d.username, d.password,
                               d.bPassiveMode.value_or(true));
    return connection.EstablishConnection();
}

int UploadToDestination(clsFTPConnection& connection, const clsBackup& job, const clsDskFile& file,
                        const std::string& deliverFrom) {
    if (!connection.ChangeCurrentDirectory(job.sDestinationDir)) {
        WriteLog(GetMsg("strMsgChangeDirFail", "%d", job.sDestinationDir));
        return kDeliverFailed;
    }
    const std::string source = deliverFrom.empty() ? file.FullName() : deliverFrom;
    if (connection.StoreFile(source, job.sDestinationDir)) {
        WriteLog(GetMsg("strMsgUploadOk", "%d", file.filename));
        return kDeliverOk;
    }
    WriteLog(GetMsg("strMsgUploadFail", "%d", file.filename));
    return kDeliverFailed;
}

void ClearTempFolder() {
    const std::string temp = TempFolder();
    for (const std::string& name : ListFileNames(temp))
        RemoveFile(JoinPath(temp, name));
}
