#include "archive/RestoreEngine.h"

#include "archive/clsFile.h"
#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "core/host.h"
#include "engine/Delivery.h"
#include "engine/Encryption.h"
#include "core/Progress.h"
#include "ftp/clsFTPConnection.h"
#include "i18n/Catalogue.h"
#include "platform/FileCopy.h"
#include "platform/FileSystem.h"
#include "platform/FileTimes.h"
#include "platform/TextConvert.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <exception>
#include <fcntl.h>
#include <map>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

std::vector<clsRestoreFileData> gRestoreList;
std::shared_ptr<clsBackup> gRestoreJob;

namespace {

// Volumes are read, and files written, in runs of whole blocks of about this
// size: small blocks would otherwise cost a system call each.
constexpr std::int64_t kIoRun = 256 * 1024;
// The writer's largest block is 28672 bytes; anything far beyond that is a
// damaged number, and memory must stay bounded by the block size.
constexpr std::int64_t kMaxRecSize = 1 << 20;
// Sizes and positions beyond this are damage, and arithmetic on them cannot
// overflow.
constexpr std::int64_t kMaxPosition = std::int64_t{1} << 60;
// Volumes kept open at once: the current one and the few an entry runs into.
constexpr std::size_t kOpenVolumes = 4;
// A host that answers every question the same way must not keep us asking.
constexpr int kMaxTargetQuestions = 20;
// The trailer keeps at most this many bytes of the path.
constexpr std::size_t kTrailerPathWidth = 255;

std::string ErrnoText(int err) {
    return err != 0 ? std::string(std::strerror(err)) : std::string("unknown error");
}

std::string ZeroPadded(std::int64_t value, std::size_t width) {
    std::string digits = std::to_string(value);
    if (digits.size() < width)
        digits.insert(0, width - digits.size(), '0');
    return digits;
}

bool IsAllZero(std::string_view data) {
    return !data.empty() && data[0] == '\0' &&
           std::memcmp(data.data(), data.data() + 1, data.size() - 1) == 0;
}

// The same sum as XorBlockChecksum, folded straight from a run of blocks
// without copying it into a string first. Valid across blocks because every
// block is a multiple of 4 bytes long.
void FoldChecksum(std::string_view data, unsigned char sum[4]) {
    std::uint64_t acc = 0;
    std::size_t i = 0;
    for (; i + 8 <= data.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data.data() + i, 8);
        acc ^= word;
    }
    const std::uint32_t folded =
        static_cast<std::uint32_t>(acc) ^ static_cast<std::uint32_t>(acc >> 32);
    unsigned char bytes[4];
    std::memcpy(bytes, &folded, 4);
    for (int k = 0; k < 4; ++k)
        sum[k] ^= bytes[k];
    for (; i < data.size(); ++i)
        sum[i % 4] ^= static_cast<unsigned char>(data[i]);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool ParseChecksum(const std::string& hex, std::string& bytes) {
    if (hex.size() != 8)
        return false;
    bytes.assign(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) {
        const int high = HexDigit(hex[2 * i]);
        const int low = HexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes[i] = static_cast<char>(high * 16 + low);
    }
    return true;
}

std::int64_t BlockCount(const clsRestoreFileData& rec) {
    return (rec.size + rec.recsize - 1) / rec.recsize;
}

bool IsVolumeName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

// "Daily-001" is "Daily" and 1. Only the form the writer gives a number (at
// least three digits) counts, and only when it reads back the same.
bool SplitVolumeNumber(const std::string& name, std::string& base, std::int64_t& number) {
    const std::size_t dash = name.rfind('-');
    if (dash == std::string::npos || dash == 0)
        return false;
    const std::string digits = name.substr(dash + 1);
    if (digits.size() < 3 || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    number = std::stoll(digits);
    base = name.substr(0, dash);
    return number > 0 && ZeroPadded(number, 3) == digits;
}

std::string VolumeName(const std::string& base, std::int64_t number) {
    return number == 0 ? base : base + "-" + ZeroPadded(number, 3);
}

// The volumes an entry occupies, as a base name and a range of numbers.
// Job names may hold "-" themselves, so the base is found by matching the
// start and end names against each other rather than at the first "-".
struct VolumeRun {
    std::string base;
    std::int64_t first = 0;
    std::int64_t last = 0;

    std::string Name(std::int64_t number) const { return VolumeName(base, number); }
    std::int64_t Count() const { return last - first + 1; }
};

std::optional<VolumeRun> VolumeRunOf(const clsRestoreFileData& rec) {
    if (!IsVolumeName(rec.arcStart) || !IsVolumeName(rec.arcEnd))
        return std::nullopt;
    VolumeRun run;
    if (rec.arcStart == rec.arcEnd) {
        // Numbered only for the progress caption; the name stays exact.
        if (!SplitVolumeNumber(rec.arcStart, run.base, run.first)) {
            run.base = rec.arcStart;
            run.first = 0;
        }
        run.last = run.first;
        return run;
    }
    std::string endBase;
    if (!SplitVolumeNumber(rec.arcEnd, endBase, run.last))
        return std::nullopt;
    if (endBase == rec.arcStart) {
        run.base = endBase; // "Daily" on to "Daily-002"
        run.first = 0;
    } else if (!SplitVolumeNumber(rec.arcStart, run.base, run.first) || run.base != endBase) {
        return std::nullopt;
    }
    if (run.last <= run.first)
        return std::nullopt;
    return run;
}

bool HasDotComponent(const std::string& path) {
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t slash = path.find('/', pos);
        if (slash == std::string::npos)
            slash = path.size();
        const std::string_view part(path.data() + pos, slash - pos);
        if (part == "." || part == "..")
            return true;
        pos = slash + 1;
    }
    return false;
}

mode_t ModeFor(std::int64_t attrib) {
    const auto word = static_cast<std::uint32_t>(attrib);
    const mode_t bits = static_cast<mode_t>((word >> 16) & 07777);
    if (bits != 0)
        return bits;
    return (word & kAttrReadOnly) != 0 ? 0444 : 0644;
}

std::string FailText(const std::string& fname, const std::string& why) {
    return "FAIL: Restore of " + fname + " failed! (" + why + ")";
}

void ShowAndLog(const std::string& text, MsgIcon icon = MsgIcon::Critical) {
    WriteLog(text);
    CurrentHost().MessageBox(text, MsgButtons::Ok, icon);
}

// ---- The index ----

std::string StagedIndexPath(const clsBackup& job) {
    return JoinPath(TempFolder(), job.sName + ".fs");
}

// Remote destinations: the index is downloaded into the staging folder.
bool FetchRemoteIndex(const clsBackup& job, std::string& why) {
    if (CurrentHost().MessageBox(GetMsg("strMsgNotStoredLocally"), MsgButtons::YesNo,
                                 MsgIcon::Question) != MsgAnswer::Yes) {
        why = "the download was declined";
        return false;
    }
    clsFTPConnection ftp;
    if (!ConnectToDestination(ftp, job)) {
        why = GetMsg("strMsgCantConnectToFTP");
        WriteLog(why);
        return false;
    }
    const std::string remote = job.sDestinationDir + "/" + job.sName + ".fs";
    const bool done = ftp.GetFile(remote, StagedIndexPath(job)) == clsFTPConnection::kGetFileDone;
    ftp.Disconnect();
    if (!done) {
        why = GetMsg("strMsgDownloadFailed", "%d", remote);
        WriteLog(why);
        return false;
    }
    return true;
}

bool FetchLocalIndex(const clsBackup& job, std::string& why) {
    const std::string source = JoinPath(job.sDestinationDir, job.sName + ".fs");
    const int err = CopyFileReplacing(source, StagedIndexPath(job));
    if (err != 0) {
        why = "the index " + source + " cannot be copied: " + ErrnoText(err);
        return false;
    }
    return true;
}

// An index whose last line has no line end was cut short while it was
// written or copied: the index reader leaves that line out, and the user must
// hear that one stored file cannot be listed.
bool EndsInsideALine(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    char last = '\n';
    if (::fstat(fd, &st) == 0 && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) != 1)
        last = '\n';
    ::close(fd);
    return last != '\n';
}

bool LoadIndexOf(const std::string& jobName, std::string& why) {
    gRestoreList.clear();
    gRestoreJob = FindBackup(jobName);
    if (!gRestoreJob) {
        why = "there is no job named \"" + jobName + "\"";
        return false;
    }
    const clsBackup& job = *gRestoreJob;
    const std::string staged = StagedIndexPath(job);
    if (!CreateFolderPath(TempFolder())) {
        why = "the staging folder " + TempFolder() + " cannot be created";
        return false;
    }
    // A copy left from earlier must never be taken for this job's index.
    RemoveFile(staged);
    if (!(job.destFTP ? FetchRemoteIndex(job, why) : FetchLocalIndex(job, why)))
        return false;
    if (job.Protected && !DecryptFile(staged, job.password)) {
        RemoveFile(staged);
        why = "the index cannot be decrypted: the password is wrong or the file is damaged";
        return false;
    }
    std::vector<clsRestoreFileData> records;
    if (!LoadIndexRecords(staged, records)) {
        why = "the index " + staged + " cannot be read";
        return false;
    }
    if (EndsInsideALine(staged))
        ShowAndLog(GetMsg("strMsgErrorRetrieveBackupData") + " (the index of " + job.sName +
                       " ends inside a line: the file it describes is left out)",
                   MsgIcon::Exclamation);
    if (records.empty()) {
        why = "the index holds no stored file";
        return false;
    }
    gRestoreList = std::move(records);
    return true;
}

// ---- Reading volumes ----

// One volume's stream (plain or gzip) read through a window of a few hundred
// kilobytes. Files lie one after another, so one window serves many small
// files, and a gzip stream is only ever read forward.
class VolumeReader {
public:
    bool Open(const std::string& path, bool zipped) {
        file_.gzipMode = zipped;
        return file_.fOpen(path, clsFile::kRead) == 1;
    }

    // Up to `length` bytes at `position`; fewer where the stream ends or a
    // read fails (LastErrno tells which). Valid until the next call.
    std::string_view Read(std::int64_t position, std::int64_t length) {
        const std::int64_t windowEnd = windowPos_ + Size();
        if (position < windowPos_ || position > windowEnd) {
            window_.clear();
            windowPos_ = position;
        } else if (position + length > windowEnd) {
            // Keep the part still wanted: a gzip stream cannot go back for it.
            window_.erase(0, static_cast<std::size_t>(position - windowPos_));
            windowPos_ = position;
        }
        const std::int64_t have = windowPos_ + Size() - position;
        if (have < length) {
            const std::int64_t want = std::max(length, kIoRun) - Size();
            file_.fRead(chunk_, want, windowPos_ + Size());
            window_ += chunk_;
        }
        const std::int64_t at = position - windowPos_;
        return std::string_view(window_).substr(
            static_cast<std::size_t>(at), static_cast<std::size_t>(std::min(length, Size() - at)));
    }

    int LastErrno() const { return file_.LastErrno(); }

private:
    std::int64_t Size() const { return static_cast<std::int64_t>(window_.size()); }

    clsFile file_;
    std::string window_;
    std::int64_t windowPos_ = 0;
    std::string chunk_;
};

// The volumes of one restore: each fetched once, a few kept open.
class VolumeSet {
public:
    explicit VolumeSet(const clsBackup& job) : job_(job) {}

    // The reader for a volume; nullptr with the reason in `why` when it
    // cannot be had. `shown` tells whether that failure was reported before.
    VolumeReader* Get(const std::string& name, std::string& why, bool& shown) {
        for (auto it = open_.begin(); it != open_.end(); ++it) {
            if (it->first == name) {
                std::rotate(it, it + 1, open_.end());
                return open_.back().second.get();
            }
        }
        if (const auto failed = failed_.find(name); failed != failed_.end()) {
            why = failed->second;
            shown = true;
            return nullptr;
        }
        shown = false;
        std::string path;
        if (const auto known = fetched_.find(name); known != fetched_.end()) {
            path = known->second;
        } else if (Fetch(name, path, why)) {
            fetched_[name] = path;
        } else {
            failed_[name] = why;
            return nullptr;
        }
        auto reader = std::make_unique<VolumeReader>();
        if (!reader->Open(path, job_.bZipped)) {
            why = path + ": " + ErrnoText(reader->LastErrno());
            failed_[name] = why;
            return nullptr;
        }
        if (open_.size() >= kOpenVolumes)
            open_.pop_front();
        open_.emplace_back(name, std::move(reader));
        return open_.back().second.get();
    }

    std::string DestinationPath(const std::string& name) const {
        return job_.destFTP ? job_.sDestinationDir + "/" + name + ".darc"
                            : JoinPath(job_.sDestinationDir, name + ".darc");
    }

    void CloseAll() { open_.clear(); }

private:
    // A local volume that needs no decryption is read where it lies: a
    // staging copy would double the disk traffic and change nothing.
    bool Fetch(const std::string& name, std::string& path, std::string& why) {
        if (job_.destFTP)
            return FetchRemote(name, path, why);
        const std::string source = DestinationPath(name);
        if (!job_.Protected) {
            path = source;
            return true;
        }
        const std::string staged = JoinPath(TempFolder(), name + ".darc");
        if (!CreateFolderPath(TempFolder())) {
            why = "the staging folder " + TempFolder() + " cannot be created";
            return false;
        }
        if (const int err = CopyFileReplacing(source, staged); err != 0) {
            why = source + ": " + ErrnoText(err);
            return false;
        }
        if (!DecryptFile(staged, job_.password)) {
            RemoveFile(staged);
            why = source + " cannot be decrypted: the password is wrong or the file is damaged";
            return false;
        }
        path = staged;
        return true;
    }

    // Remote volumes are downloaded into the staging folder, each once, over
    // one connection for the whole restore.
    bool FetchRemote(const std::string& name, std::string& path, std::string& why) {
        if (ftp_.connectionState() == 1 && !ConnectToDestination(ftp_, job_)) {
            why = GetMsg("strMsgCantConnectToFTP");
            WriteLog(why);
            return false;
        }
        const std::string remote = DestinationPath(name);
        const std::string staged = JoinPath(TempFolder(), name + ".darc");
        if (!CreateFolderPath(TempFolder()) ||
            ftp_.GetFile(remote, staged) != clsFTPConnection::kGetFileDone) {
            why = GetMsg("strMsgDownloadFailed", "%d", remote);
            WriteLog(why);
            return false;
        }
        if (job_.Protected && !DecryptFile(staged, job_.password)) {
            RemoveFile(staged);
            why = remote + " cannot be decrypted: the password is wrong or the file is damaged";
            return false;
        }
        path = staged;
        return true;
    }

    const clsBackup& job_;
    clsFTPConnection ftp_;
    std::map<std::string, std::string> fetched_;
    std::map<std::string, std::string> failed_;
    std::deque<std::pair<std::string, std::unique_ptr<VolumeReader>>> open_;
};

// ---- Writing the restored file ----

// The file being written beside its target under a temporary name. It is
// removed again unless it was renamed into place.
class PartFile {
public:
    PartFile() = default;
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    ~PartFile() { Discard(); }

    bool Create(const std::string& folder) {
        std::string name = JoinPath(folder, ".tvrestore-XXXXXX");
        fd_ = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd_ < 0)
            return Failed();
        path_ = std::move(name);
        return true;
    }

    bool WriteAt(std::string_view data, std::int64_t position) {
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t n =
                ::pwrite(fd_, data.data() + done, data.size() - done,
                         static_cast<off_t>(position + static_cast<std::int64_t>(done)));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return Failed(n < 0 ? errno : EIO);
            done += static_cast<std::size_t>(n);
        }
        end_ = std::max(end_, position + static_cast<std::int64_t>(data.size()));
        return true;
    }

    // Size (zeros at the end were not written), permissions and times, then
    // closed: a full disk may show only at the close.
    bool Finish(std::int64_t size, mode_t mode, const struct timespec times[2]) {
        if ((end_ < size && ::ftruncate(fd_, static_cast<off_t>(size)) != 0) ||
            ::fchmod(fd_, mode) != 0 || ::futimens(fd_, times) != 0)
            return Failed();
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 || errno == EINTR || Failed();
    }

    bool MoveTo(const std::string& target) {
        if (::rename(path_.c_str(), target.c_str()) != 0)
            return Failed();
        path_.clear();
        return true;
    }

    int LastErrno() const { return errno_; }

private:
    bool Failed(int err = errno) {
        errno_ = err;
        return false;
    }
    void Discard() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        if (!path_.empty())
            ::unlink(path_.c_str());
        path_.clear();
    }

    int fd_ = -1;
    std::string path_;
    std::int64_t end_ = 0; // bytes written so far, holes before them included
    int errno_ = 0;
};

// ---- One restore ----

// One record on its way to the disk.
struct Plan {
    const clsRestoreFileData* rec = nullptr;
    std::string target;
    VolumeRun run;
    bool superseded = false;
};

enum class Copied { Ok, Failed, Aborted };

class Restorer {
public:
    Restorer(const clsBackup& job, const RestoreTarget& target, RestoreResult& result)
        : target_(target), result_(result), volumes_(job) {}

    void Run(const std::vector<clsRestoreFileData>& records) {
        if (records.empty()) {
            ShowAndLog(GetMsg("strMsgNoFilesToRestore"));
            return;
        }
        if (!target_.ToOriginalFolders() && !CreateFolderPath(target_.chosenFolder)) {
            const int err = errno;
            ShowAndLog(GetMsg("strMsgCantOpenFileToRestore", "%d", target_.chosenFolder) + " (" +
                       ErrnoText(err) + ")");
            ShowClosingCount();
            return;
        }
        ShowProgress(GetMsg("strMsgRestoringFiles"));
        std::vector<Plan> plans = MakePlans(records);
        for (const Plan& plan : plans)
            totalBytes_ += plan.superseded ? 0 : plan.rec->size;
        for (const Plan& plan : plans) {
            if (plan.superseded)
                continue;
            if (StopRequested()) {
                result_.aborted = true;
                break;
            }
            const Copied outcome = RestoreOne(plan);
            if (outcome == Copied::Ok)
                ++result_.restored;
            else if (outcome == Copied::Aborted)
                result_.aborted = true;
            if (result_.aborted)
                break;
            bytesDone_ += plan.rec->size;
        }
        volumes_.CloseAll();
        CloseProgress();
        if (result_.aborted)
            WriteLog(GetMsg("strMsgRestoreAborted"));
        ShowClosingCount();
    }

private:
    // Every usable record with its target, in the order the volumes hold
    // them, so each volume is read front to back.
    std::vector<Plan> MakePlans(const std::vector<clsRestoreFileData>& records) {
        std::vector<Plan> plans;
        plans.reserve(records.size());
        std::unordered_map<std::string, std::size_t> byTarget;
        for (std::size_t i = 0; i < records.size(); ++i) {
            const clsRestoreFileData& rec = records[i];
            std::string why = RecordDamage(rec);
            std::string target;
            if (why.empty())
                target = RestorePathFor(rec, target_, &why);
            if (!why.empty()) {
                ShowAndLog(FailText(rec.fname, "index entry refused: " + why));
                continue;
            }
            Plan plan;
            plan.rec = &rec;
            plan.target = std::move(target);
            plan.run = *VolumeRunOf(rec);
            // The same file chosen twice: the one chosen last is the one kept.
            const auto [it, fresh] = byTarget.try_emplace(plan.target, plans.size());
            if (!fresh) {
                plans[it->second].superseded = true;
                WriteLog(FailText(rec.fname,
                                  "the version of session " +
                                      plans[it->second].rec->dSession.Format("yyyyMMddHHmmss") +
                                      " is left out: a later one was chosen as well"));
                it->second = plans.size();
            }
            plans.push_back(std::move(plan));
        }
        std::stable_sort(plans.begin(), plans.end(), [](const Plan& a, const Plan& b) {
            if (a.rec->arcStart != b.rec->arcStart)
                return a.rec->arcStart < b.rec->arcStart;
            return a.rec->soffs < b.rec->soffs;
        });
        return plans;
    }

    bool StopRequested() const { return gAbort || gQuitting; }

    // A polling point between runs of blocks.
    bool KeepGoing() {
        YieldAndHonourPause();
        return !StopRequested();
    }

    VolumeReader* OpenVolume(const Plan& plan, std::int64_t number) {
        const std::string name = plan.run.Name(number);
        std::string why;
        bool shown = false;
        VolumeReader* reader = volumes_.Get(name, why, shown);
        if (reader != nullptr)
            return reader;
        const std::string text =
            number == plan.run.first
                ? GetMsg("strMsgCantOpenArchiveToRestore", "%d", volumes_.DestinationPath(name))
                : "Can't find archive " + name + ".darc!";
        // One box per volume; every file it costs gets its log line.
        if (!shown)
            ShowAndLog(text + " (" + why + ")");
        WriteLog(FailText(plan.rec->fname, text));
        return nullptr;
    }

    Copied RestoreOne(const Plan& plan) {
        const clsRestoreFileData& rec = *plan.rec;
        VolumeReader* reader = OpenVolume(plan, plan.run.first);
        if (reader == nullptr)
            return Copied::Failed;
        const std::string folder = ParentFolder(plan.target);
        const std::string cantOpen = GetMsg("strMsgCantOpenFileToRestore", "%d", plan.target);
        if (!EnsureFolder(folder)) {
            const int err = errno;
            ShowAndLog(cantOpen + " (" + folder + ": " + ErrnoText(err) + ")");
            return Copied::Failed;
        }
        PartFile part;
        if (!part.Create(folder)) {
            ShowAndLog(cantOpen + " (" + ErrnoText(part.LastErrno()) + ")");
            return Copied::Failed;
        }
        std::string why;
        const Copied copied = CopyEntry(plan, reader, part, why);
        if (copied == Copied::Aborted)
            return copied;
        if (copied == Copied::Failed) {
            if (!why.empty())
                ShowAndLog(FailText(rec.fname, why));
            return copied;
        }
        const struct timespec times[2] = {UnixFromFileTime(rec.tLastAccessTimeGet().Value() != 0
                                                               ? rec.tLastAccessTimeGet()
                                                               : rec.tLastWriteTimeGet()),
                                          UnixFromFileTime(rec.tLastWriteTimeGet())};
        if (!part.Finish(rec.size, ModeFor(rec.Attrib), times) || !part.MoveTo(plan.target)) {
            ShowAndLog(cantOpen + " (" + ErrnoText(part.LastErrno()) + ")");
            return Copied::Failed;
        }
        return Copied::Ok;
    }

    // Creates what is missing of a folder path. Levels seen before are not
    // looked at again: thousands of files share a few hundred folders.
    bool EnsureFolder(const std::string& folder) {
        if (folder == "/" || folder == "." || madeFolders_.count(folder) != 0)
            return true;
        if (!EnsureFolder(ParentFolder(folder)))
            return false;
        if (::mkdir(folder.c_str(), 0755) != 0) {
            const int err = errno;
            struct stat st {};
            if (err != EEXIST || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
                errno = err == EEXIST ? ENOTDIR : err;
                return false;
            }
        }
        madeFolders_.insert(folder);
        return true;
    }

    // Cuts the entry's blocks out of its volumes into `part`, checks that
    // they end where the index says, under the trailer of this very file,
    // and that their checksum is the recorded one. A failure with an empty
    // `why` was reported already.
    Copied CopyEntry(const Plan& plan, VolumeReader* reader, PartFile& part, std::string& why) {
        const clsRestoreFileData& rec = *plan.rec;
        const std::int64_t recsize = rec.recsize;
        const std::int64_t runBlocks = std::max<std::int64_t>(1, kIoRun / recsize);
        std::int64_t blocksLeft = BlockCount(rec);
        std::int64_t volume = plan.run.first;
        std::int64_t position = rec.soffs;
        std::int64_t written = 0;
        unsigned char sum[4] = {0, 0, 0, 0};
        const std::string text = FileNameOf(rec.fname) + " -> " + ParentFolder(plan.target);

        // Moves on to the next volume where one ends; false when there is
        // none or it cannot be had.
        auto nextVolume = [&]() {
            if (volume >= plan.run.last) {
                why = ShortRead(plan, volume, reader, written, 0);
                return false;
            }
            ++volume;
            reader = OpenVolume(plan, volume);
            position = 0;
            return reader != nullptr;
        };

        while (blocksLeft > 0) {
            if (!KeepGoing())
                return Copied::Aborted;
            const std::int64_t want = std::min(blocksLeft, runBlocks) * recsize;
            const std::string_view got = reader->Read(position, want);
            if (got.empty()) {
                if (!nextVolume())
                    return Copied::Failed;
                continue;
            }
            if (static_cast<std::int64_t>(got.size()) % recsize != 0) {
                why =
                    ShortRead(plan, volume, reader, written, static_cast<std::int64_t>(got.size()));
                return Copied::Failed;
            }
            FoldChecksum(got, sum);
            const std::string_view data = got.substr(
                0,
                static_cast<std::size_t>(std::min<std::int64_t>(got.size(), rec.size - written)));
            // Zeros are left as a hole: the file reads the same and a sparse
            // original stays sparse.
            if (!data.empty() && !IsAllZero(data) && !part.WriteAt(data, written)) {
                ShowAndLog(GetMsg("strMsgCantOpenFileToRestore", "%d", plan.target) + " (" +
                           ErrnoText(part.LastErrno()) + ")");
                return Copied::Failed;
            }
            written += static_cast<std::int64_t>(data.size());
            position += static_cast<std::int64_t>(got.size());
            blocksLeft -= static_cast<std::int64_t>(got.size()) / recsize;
            ReportProgress(plan, volume, written, text);
        }

        std::string_view trailer = reader->Read(position, recsize);
        if (trailer.empty()) {
            if (!nextVolume())
                return Copied::Failed;
            trailer = reader->Read(position, recsize);
        }
        if (static_cast<std::int64_t>(trailer.size()) != recsize) {
            why =
                ShortRead(plan, volume, reader, written, static_cast<std::int64_t>(trailer.size()));
            return Copied::Failed;
        }
        if (volume != plan.run.last || position + recsize != rec.dendoffset) {
            why = "the entry ends in " + plan.run.Name(volume) + " at " +
                  std::to_string(position + recsize) + ", the index says " + rec.arcEnd + " at " +
                  std::to_string(rec.dendoffset);
            return Copied::Failed;
        }
        if (!TrailerNamesRecord(trailer, rec)) {
            why = "the volume holds another file where the index places this one";
            return Copied::Failed;
        }
        const std::string actual = HexString(std::string(reinterpret_cast<char*>(sum), 4));
        if (actual != ToUpperAscii(rec.crc)) {
            why = "checksum mismatch: the volume gives " + actual + ", the index records " +
                  ToUpperAscii(rec.crc);
            return Copied::Failed;
        }
        if (rec.size == 0)
            ReportProgress(plan, volume, 0, text);
        return Copied::Ok;
    }

    static std::string ShortRead(const Plan& plan, std::int64_t volume, VolumeReader* reader,
                                 std::int64_t written, std::int64_t partial) {
        std::string why = "short read: " + plan.run.Name(volume) + ".darc ends after " +
                          std::to_string(written) + " of " + std::to_string(plan.rec->size) +
                          " bytes";
        if (partial > 0)
            why += ", inside a block";
        if (reader != nullptr && reader->LastErrno() != 0)
            why += " (" + ErrnoText(reader->LastErrno()) + ")";
        return why;
    }

    // The writer closes every entry with the file's name, size and checksum.
    static bool TrailerNamesRecord(std::string_view trailer, const clsRestoreFileData& rec) {
        const std::string expected = rec.fname.substr(0, kTrailerPathWidth) +
                                     ZeroPadded(rec.size, 12) + ToUpperAscii(rec.crc);
        const std::size_t n = std::min(expected.size(), trailer.size());
        return trailer.substr(0, n) == std::string_view(expected).substr(0, n);
    }

    void ReportProgress(const Plan& plan, std::int64_t volume, std::int64_t written,
                        const std::string& text) {
        const std::int64_t size = plan.rec->size;
        const double filePercent =
            size > 0 ? 100.0 * static_cast<double>(written) / static_cast<double>(size) : 100.0;
        const double overall = std::min(100.0, 100.0 * static_cast<double>(bytesDone_ + written) /
                                                   static_cast<double>(totalBytes_ + 1));
        if (volume != captionVolume_ || plan.run.base != captionBase_) {
            captionVolume_ = volume;
            captionBase_ = plan.run.base;
            caption_ =
                ReplaceAll(GetMsg("strMsgRestoreProgressCaption", "%d", plan.run.Name(volume)),
                           "%i", std::to_string(volume));
        }
        UpdateProgress(caption_, text, filePercent, overall);
    }

    void ShowClosingCount() {
        const std::string text =
            ReplaceAll(ReplaceAll(ReplaceAll(GetMsg("strMsgNrRestoredFiles"), "%1",
                                             std::to_string(result_.restored)),
                                  "%2", std::to_string(result_.selected)),
                       "%d", target_.chosenFolder);
        const MsgIcon icon = result_.AllRestored()  ? MsgIcon::Information
                             : result_.restored > 0 ? MsgIcon::Exclamation
                                                    : MsgIcon::Critical;
        ShowAndLog(text, icon);
    }

    const RestoreTarget& target_;
    RestoreResult& result_;
    VolumeSet volumes_;
    std::unordered_set<std::string> madeFolders_;
    std::int64_t totalBytes_ = 0;
    std::int64_t bytesDone_ = 0;
    std::int64_t captionVolume_ = -1;
    std::string captionBase_;
    std::string caption_;
};

// A restore counts as a run: the scheduler starts no backup meanwhile (it
// would empty the staging folder under us), and pause and cancel reach it.
class RunningRestore {
public:
    RunningRestore() {
        gBackupRunning = true;
        gAbort = false;
        gPaused = false;
    }
    ~RunningRestore() { gBackupRunning = false; }
    RunningRestore(const RunningRestore&) = delete;
    RunningRestore& operator=(const RunningRestore&) = delete;
};

std::optional<RestoreTarget> AskForFolder(bool askOriginalFirst) {
    Host& host = CurrentHost();
    for (int round = 0; round < kMaxTargetQuestions; ++round) {
        if (askOriginalFirst && host.MessageBox(GetMsg("strMsgRFToOrigQ"), MsgButtons::YesNo,
                                                MsgIcon::Question) == MsgAnswer::Yes)
            return RestoreTarget{};
        const std::string folder = host.PickFolder(GetMsg("strMsgPathToRestoreFiles"));
        if (!folder.empty())
            return RestoreTarget{folder};
        if (host.MessageBox(GetMsg("strMsgMustSelectAValidPath"), MsgButtons::YesNo,
                            MsgIcon::Question) != MsgAnswer::Yes)
            break;
    }
    host.MessageBox(GetMsg("strMsgRestoreAborted"), MsgButtons::Ok, MsgIcon::Critical);
    return std::nullopt;
}

bool MatchesPath(const std::string& fname, const std::string& path) {
    if (path == "/")
        return !fname.empty() && fname[0] == '/';
    return fname == path || (fname.size() > path.size() &&
                             fname.compare(0, path.size(), path) == 0 && fname[path.size()] == '/');
}

} // namespace

bool LoadRestoreList(const std::string& jobName, std::string* why) {
    std::string reason;
    if (LoadIndexOf(jobName, reason))
        return true;
    WriteLog(GetMsg("strMsgErrorRetrieveBackupData") + " (" + reason + ")");
    if (why != nullptr)
        *why = reason;
    return false;
}

std::optional<RestoreTarget> AskRestoreTarget() {
    return AskForFolder(true);
}

std::optional<RestoreTarget> PickRestoreFolder() {
    return AskForFolder(false);
}

RestoreResult RestoreFiles(const clsBackup& job, const std::vector<clsRestoreFileData>& records,
                           const RestoreTarget& target) {
    RestoreResult result;
    result.selected = static_cast<int>(records.size());
    if (gBackupRunning) {
        ShowAndLog(GetMsg("strMsgBackupPending"));
        return result;
    }
    RunningRestore running;
    try {
        Restorer restorer(job, target, result);
        restorer.Run(records);
    } catch (const std::exception& e) {
        CloseProgress();
        ShowAndLog(GetMsg("strMsgErrorRetrieveBackupData") + " (" + e.what() + ")",
                   MsgIcon::Exclamation);
    }
    return result;
}

RestoreResult RestoreFiles(const std::vector<clsRestoreFileData>& records) {
    if (!gRestoreJob) {
        RestoreResult result;
        result.selected = static_cast<int>(records.size());
        ShowAndLog(GetMsg("strMsgErrorRetrieveBackupData"), MsgIcon::Exclamation);
        return result;
    }
    const std::optional<RestoreTarget> target = AskRestoreTarget();
    if (!target) {
        RestoreResult result;
        result.selected = static_cast<int>(records.size());
        result.aborted = true;
        return result;
    }
    return RestoreFiles(*gRestoreJob, records, *target);
}

std::string RecordDamage(const clsRestoreFileData& rec) {
    if (rec.fname.empty())
        return "it names no file";
    if (rec.recsize < 4 || rec.recsize > kMaxRecSize || rec.recsize % 4 != 0)
        return "its block size " + std::to_string(rec.recsize) + " is impossible";
    if (rec.size < 0 || rec.size > kMaxPosition)
        return "its size " + std::to_string(rec.size) + " is impossible";
    if (rec.soffs < 0 || rec.soffs > kMaxPosition || rec.dendoffset <= 0 ||
        rec.dendoffset > kMaxPosition)
        return "its volume positions are impossible";
    std::string checksum;
    if (!ParseChecksum(rec.crc, checksum))
        return "its checksum \"" + rec.crc + "\" is not 8 hex digits";
    const std::optional<VolumeRun> run = VolumeRunOf(rec);
    if (!run)
        return "its volumes \"" + rec.arcStart + "\" and \"" + rec.arcEnd +
               "\" do not follow each other";
    const std::int64_t blocks = BlockCount(rec);
    const bool fits = run->Count() == 1 ? rec.soffs + (blocks + 1) * rec.recsize == rec.dendoffset
                                        : rec.dendoffset % rec.recsize == 0 &&
                                              rec.dendoffset / rec.recsize - 1 <= blocks &&
                                              run->Count() <= blocks + 1;
    if (!fits)
        return "its positions do not fit its size";
    if (rec.tLastWriteTimeGet().Value() == 0)
        return "it records no modification time";
    return std::string();
}

std::string RestorePathFor(const clsRestoreFileData& rec, const RestoreTarget& target,
                           std::string* why) {
    auto refuse = [&](const char* reason) {
        if (why != nullptr)
            *why = reason;
        return std::string();
    };
    const std::string bare = StripDrivePrefix(rec.fname);
    if (bare.find('\0') != std::string::npos)
        return refuse("its name holds a NUL byte");
    if (bare.empty() || bare[0] != '/')
        return refuse("its name is not a full path");
    if (bare.back() == '/')
        return refuse("its name ends in a folder separator");
    if (HasDotComponent(bare))
        return refuse("its name holds a \".\" or \"..\" component");
    if (target.ToOriginalFolders())
        return rec.fname;
    std::string folder = target.chosenFolder;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder == "/" ? bare : folder + bare;
}

std::vector<std::string> VolumeChain(const clsRestoreFileData& rec) {
    std::vector<std::string> names;
    const std::optional<VolumeRun> run = VolumeRunOf(rec);
    if (!run)
        return names;
    // A damaged number must not make us list a billion names.
    if (run->Count() > BlockCount(rec) + 1 && run->Count() > 1)
        return names;
    for (std::int64_t n = run->first; n <= run->last; ++n)
        names.push_back(run->Name(n));
    return names;
}

RestoreSelection SelectNewestVersions(const std::vector<clsRestoreFileData>& list,
                                      const std::optional<DateTime>& atOrBefore,
                                      const std::vector<std::string>& paths) {
    std::vector<std::string> wanted;
    for (std::string path : paths) {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        wanted.push_back(std::move(path));
    }
    std::vector<bool> matched(wanted.size(), false);
    std::unordered_map<std::string, std::size_t> newest;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const clsRestoreFileData& rec = list[i];
        if (atOrBefore && rec.dSession > *atOrBefore)
            continue;
        bool selected = wanted.empty();
        for (std::size_t w = 0; w < wanted.size(); ++w) {
            if (MatchesPath(rec.fname, wanted[w])) {
                matched[w] = true;
                selected = true;
            }
        }
        if (!selected)
            continue;
        // Later lines of the same session replace earlier ones too.
        const auto [it, fresh] = newest.try_emplace(rec.fname, i);
        if (!fresh && !(rec.dSession < list[it->second].dSession))
            it->second = i;
    }
    std::vector<std::size_t> chosen;
    chosen.reserve(newest.size());
    for (const auto& entry : newest)
        chosen.push_back(entry.second);
    std::sort(chosen.begin(), chosen.end());

    RestoreSelection selection;
    selection.records.reserve(chosen.size());
    for (const std::size_t i : chosen)
        selection.records.push_back(list[i]);
    for (std::size_t w = 0; w < wanted.size(); ++w) {
        if (!matched[w])
            selection.unmatchedPaths.push_back(paths[w]);
    }
    return selection;
}
