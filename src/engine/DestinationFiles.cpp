#include "engine/DestinationFiles.h"

#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "engine/Encryption.h"
#include "i18n/Catalogue.h"
#include "platform/FileCopy.h"
#include "platform/FileSystem.h"
#include "platform/FileTimes.h"
#include "platform/TextConvert.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::int32_t kNoSuchFile = 550;
constexpr std::int32_t kServiceClosing = 421;

std::string WithoutTrailingSlash(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

bool InStaging(const std::string& path) {
    const std::string staging = TempFolder() + "/";
    return path.compare(0, staging.size(), staging) == 0;
}

// Volumes and the index are emptied from the staging folder right after
// delivery anyway: on the same file system they are moved, not copied, which
// spares writing every byte twice. A rename replaces the target atomically.
bool MoveStagedFile(const std::string& source, const std::string& target) {
    return InStaging(source) && ::rename(source.c_str(), target.c_str()) == 0;
}

// A protected plain copy is encrypted on a staging copy: the user's own file
// is never touched. The copy keeps the file's name (an upload is stored
// under it) in a folder of its own. Neither an encrypted file nor an FTP
// server can hold a symbolic link: a link goes as a small file holding its
// target text, as a reader that knows no links restores it.
std::string StageCopy(const clsDskFile& file, int& error) {
    std::string folder = JoinPath(TempFolder(), ".enc-XXXXXX");
    if (::mkdtemp(folder.data()) == nullptr) {
        error = errno;
        return std::string();
    }
    const std::string staged = JoinPath(folder, file.filename);
    if (!IsLinkAttribute(file.dAttrib))
        error = CopyFileReplacing(file.FullName(), staged);
    else if (!WriteFileAtomically(staged, file.linkTarget, 0644))
        error = errno != 0 ? errno : EIO;
    if (error != 0) {
        ::rmdir(folder.c_str());
        return std::string();
    }
    return staged;
}

std::array<struct timespec, 2> OwnTimes(const clsDskFile& file) {
    return {UnixFromFileTime(file.tLastAccessTimeGet()),
            UnixFromFileTime(file.tLastWriteTimeGet())};
}

void RemoveStagedCopy(const std::string& staged) {
    RemoveFile(staged);
    ::rmdir(ParentFolder(staged).c_str());
}

} // namespace

bool ConnectToDestination(clsFTPConnection& connection, const clsBackup& job) {
    if (!job.objDestination)
        return false;
    const clsTidevault& d = *job.objDestination;
    connection.SetupConnection(d.hostname, d.port, d.username, d.password,
                               d.bPassiveMode.value_or(true));
    return connection.EstablishConnection();
}

DestinationFiles::DestinationFiles(const clsBackup& job) : job_(job) {}

DestinationFiles::~DestinationFiles() {
    if (ftp_.connectionState() != clsFTPConnection::kDisconnected)
        ftp_.Disconnect();
}

bool DestinationFiles::Connect() {
    if (!job_.destFTP || ftp_.connectionState() == clsFTPConnection::kLoggedIn)
        return true;
    // A connection that never got past the login starts over.
    if (ftp_.connectionState() != clsFTPConnection::kDisconnected)
        ftp_.Disconnect();
    return ConnectToDestination(ftp_, job_);
}

bool DestinationFiles::Close() {
    if (ftp_.connectionState() != clsFTPConnection::kDisconnected)
        ftp_.Disconnect();
    madeFolderFd_.reset();
    madeFolder_.clear();
    // What was delivered is on the disk before the run calls itself done.
    if (!storedLocally_)
        return true;
    storedLocally_ = false;
    const int failure = flusher_.Finish();
    if (failure == 0)
        return true;
    WriteLog(GetMsg("strMsgNotOnDisk",
                    {{"%d", job_.sDestinationDir}, {"%e", std::strerror(failure)}}));
    return false;
}

bool DestinationFiles::DroppedByServer() const {
    return !gAbort && (ftp_.LastReplyCode() == kServiceClosing || !ftp_.ctrlSocket.IsOpen() ||
                       ftp_.ctrlSocket.IsFinished());
}

bool DestinationFiles::ReconnectOnce() {
    WriteLog(GetMsg("strMsgFtpReconnecting", "%h",
                    job_.objDestination ? job_.objDestination->hostname : std::string()));
    ftp_.Disconnect();
    return ConnectToDestination(ftp_, job_);
}

bool DestinationFiles::Holds(const std::string& name) const {
    return !job_.destFTP && FileExists(JoinPath(job_.sDestinationDir, name));
}

DestinationFiles::Fetched DestinationFiles::Fetch(const std::string& name, Placement placement) {
    const std::string staged = JoinPath(TempFolder(), name);
    CreateFolderPath(TempFolder());
    return job_.destFTP ? FetchRemote(name, staged) : FetchLocal(name, staged, placement);
}

DestinationFiles::Fetched DestinationFiles::FetchLocal(const std::string& name,
                                                       const std::string& staged,
                                                       Placement placement) {
    const std::string source = JoinPath(job_.sDestinationDir, name);
    struct stat st {};
    if (::lstat(source.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR))
        return {Fetched::Missing, "", GetMsg("strMsgFetchMissing", "%d", source)};
    if (placement == Placement::InPlaceIfPlain && !job_.Protected && FileExists(source))
        return {Fetched::Done, source, ""};
    if (const int err = CopyFileReplacing(source, staged); err != 0)
        return {Fetched::Unreadable, "",
                GetMsg("strMsgFetchCopyFailed", "%d", source) + " (" + std::strerror(err) + ")"};
    return Decrypted(staged, source);
}

DestinationFiles::Fetched DestinationFiles::FetchRemote(const std::string& name,
                                                        const std::string& staged) {
    if (!Connect())
        return {Fetched::Unreadable, "",
                GetMsg("strMsgFetchNoConnection", "%d",
                       job_.objDestination ? job_.objDestination->hostname : std::string())};
    const std::string remote = job_.sDestinationDir + "/" + name;
    // The download would ask before replacing a leftover of an earlier run.
    RemoveFile(staged);
    if (ftp_.GetFile(remote, staged) == clsFTPConnection::kGetFileDone)
        return Decrypted(staged, remote);
    // A connection kept open between downloads (the restore browser's) may
    // have been dropped by the server as idle: one fresh login, no question.
    if (DroppedByServer() && ReconnectOnce() &&
        ftp_.GetFile(remote, staged) == clsFTPConnection::kGetFileDone)
        return Decrypted(staged, remote);
    // A server may refuse a file it has with 550 too, and in active mode
    // nothing is downloaded at all: the folder's listing has the last word.
    const bool refused = ftp_.LastReplyCode() == kNoSuchFile;
    if (refused || !ftp_.bPassiveMode) {
        const std::optional<bool> listed = ListedRemotely(name);
        if (refused ? listed != true : listed == false)
            return {Fetched::Missing, "", GetMsg("strMsgFetchMissing", "%d", remote)};
    }
    return {Fetched::Unreadable, "", GetMsg("strMsgFetchDownloadFailed", "%d", remote)};
}

// Nothing when the folder cannot be listed; a folder that cannot be entered
// lists nothing.
std::optional<bool> DestinationFiles::ListedRemotely(const std::string& name) {
    if (!ftp_.ChangeCurrentDirectory(job_.sDestinationDir))
        return false;
    const auto files = ftp_.GetFileList();
    if (!files)
        return std::nullopt;
    return std::any_of(files->begin(), files->end(),
                       [&](const clsFTPFile& f) { return f.strName == name; });
}

DestinationFiles::Fetched DestinationFiles::Decrypted(const std::string& staged,
                                                      const std::string& shownName) {
    if (!job_.Protected || DecryptFile(staged, job_.password))
        return {Fetched::Done, staged, ""};
    RemoveFile(staged);
    return {Fetched::Unreadable, "", GetMsg("strMsgFetchDecryptFailed", "%d", shownName)};
}

DestinationFiles::Stored DestinationFiles::Store(const clsDskFile& file) {
    std::string from = file.FullName();
    std::string stagedCopy;
    Stored result;
    bool ready = true;
    const bool link = IsLinkAttribute(file.dAttrib);
    // A link delivered to a local folder is made as a link (StoreLocal); an
    // FTP server is sent a file.
    if (job_.Protected || (link && job_.destFTP)) {
        // Volumes and the index may be encrypted where they lie in staging;
        // a plain copy's source is the user's own file.
        if (link || !InStaging(from)) {
            stagedCopy = StageCopy(file, result.error);
            from = stagedCopy;
        }
        ready = !from.empty() && (!job_.Protected || EncryptFile(from, job_.password));
    }
    if (ready)
        result = job_.destFTP ? StoreRemote(file, from) : StoreLocal(file, from);
    if (!stagedCopy.empty())
        RemoveStagedCopy(stagedCopy);
    if (!result.done)
        WriteLog(GetMsg("strMsgFileCopyFail", {{"%s", file.FullName()},
                                               {"%d", job_.destFTP ? job_.sDestinationDir
                                                                   : DestinationFolderFor(file)}}));
    return result;
}

// A plain copy mirrors the source tree below the destination (the drive
// prefix dropped); volumes and the index of an archived job go to the
// destination folder itself, wherever the staging folder lies.
std::string DestinationFiles::DestinationFolderFor(const clsDskFile& file) const {
    const std::string destination = WithoutTrailingSlash(job_.sDestinationDir);
    if (job_.archived)
        return destination;
    std::string folder = StripDrivePrefix(file.path);
    if (!folder.empty() && folder.back() == '/')
        folder.pop_back();
    return destination + folder;
}

DestinationFiles::Stored DestinationFiles::StoreLocal(const clsDskFile& file,
                                                      const std::string& from) {
    const std::string folder = DestinationFolderFor(file);
    const std::string target = JoinPath(folder, file.filename);
    Stored result;
    // Files come folder by folder: the folder made for the last one usually
    // serves this one too, and stays open. Should it have gone meanwhile, it
    // is made again.
    const bool madeBefore = folder == madeFolder_ && madeFolderFd_.get() >= 0;
    auto make = [&] {
        madeFolderFd_.reset();
        if (!CreateFolderPath(folder))
            return errno != 0 ? errno : EIO;
        madeFolderFd_.reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        return madeFolderFd_.get() >= 0 ? 0 : errno;
    };
    auto place = [&] {
        if (IsLinkAttribute(file.dAttrib) && from == file.FullName())
            return PlaceLinkReplacing(file.linkTarget, target, OwnTimes(file).data());
        if (MoveStagedFile(from, target))
            return 0;
        return CopyFileReplacingAt(from, madeFolderFd_.get(), file.filename);
    };
    result.error = madeBefore ? 0 : make();
    if (result.error == 0)
        result.error = place();
    // A removed folder shows as ENOENT or, for an unnamed file, EPERM.
    struct stat st {};
    const bool removed = madeBefore && result.error != 0 &&
                         (result.error == ENOENT ||
                          (::fstat(madeFolderFd_.get(), &st) == 0 && st.st_nlink == 0));
    if (removed && make() == 0)
        result.error = place();
    madeFolder_ = result.error == 0 ? folder : std::string();
    if (result.error != 0)
        return result;
    result.done = true;
    if (!storedLocally_)
        flusher_.Start(job_.sDestinationDir);
    storedLocally_ = true;
    WriteFileRecord(GetMsg("strMsgFileCopyOk", {{"%s", file.FullName()}, {"%d", target}}));
    return result;
}

DestinationFiles::Stored DestinationFiles::StoreRemote(const clsDskFile& file,
                                                       const std::string& from) {
    Stored result;
    if (!Connect())
        return result;
    if (!ftp_.ChangeCurrentDirectory(job_.sDestinationDir)) {
        WriteLog(GetMsg("strMsgChangeDirFail", "%d", job_.sDestinationDir));
        return result;
    }
    result.done = ftp_.StoreFile(from, job_.sDestinationDir);
    WriteLog(GetMsg(result.done ? "strMsgUploadOk" : "strMsgUploadFail", "%d", file.filename));
    return result;
}
