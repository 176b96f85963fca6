#include "engine/RestoreRun.h"

#include "archive/VolumeReader.h"
#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "core/Progress.h"
#include "core/host.h"
#include "engine/Delivery.h"
#include "engine/DestinationFiles.h"
#include "engine/RestoreLinks.h"
#include "i18n/Catalogue.h"
#include "platform/FileCopy.h"
#include "platform/FileSystem.h"
#include "platform/FileTimes.h"
#include "platform/ReplacingFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <sys/stat.h>
#include <unordered_map>
#include <unordered_set>

std::vector<clsRestoreFileData> gRestoreList;
std::size_t gRestoreListDamagedLines = 0;
std::shared_ptr<clsBackup> gRestoreJob;

namespace {

// Volumes kept open at once: the current one and the few an entry runs into.
constexpr std::size_t kOpenVolumes = 4;
// A host that answers every question the same way must not keep us asking.
constexpr int kMaxTargetQuestions = 20;

std::string ErrnoText(int err) {
    return std::strerror(err != 0 ? err : EIO);
}

mode_t ModeFor(std::int64_t attrib) {
    const auto word = static_cast<std::uint32_t>(attrib);
    const mode_t bits = static_cast<mode_t>((word >> 16) & 07777);
    if (bits != 0)
        return bits;
    return (word & kAttrReadOnly) != 0 ? 0444 : 0644;
}

std::string FailText(const std::string& fname, const std::string& why) {
    return GetMsg("strMsgRestoreFail", {{"%d", fname}, {"%r", why}});
}

void ShowAndLog(const std::string& text, MsgIcon icon = MsgIcon::Critical) {
    WriteLog(text);
    CurrentHost().MessageBox(text, MsgButtons::Ok, icon);
}

// ---- Fetching from the destination ----

// The destination file `name` in staging (or, for a local volume that needs
// no decryption, where it lies), or empty with the reason in `why`.
std::string
FetchFromDestination(DestinationFiles& destination, const std::string& name, std::string& why,
                     DestinationFiles::Placement placement = DestinationFiles::Placement::Staging) {
    if (!CreateFolderPath(TempFolder())) {
        why = GetMsg("strMsgStagingUnusable", "%d", TempFolder());
        return std::string();
    }
    if (!destination.Connect()) {
        why = GetMsg("strMsgCantConnectToFTP");
        WriteLog(why);
        return std::string();
    }
    const DestinationFiles::Fetched fetched = destination.Fetch(name, placement);
    if (fetched.outcome != DestinationFiles::Fetched::Done) {
        why = fetched.reason;
        WriteLog(why);
        return std::string();
    }
    return fetched.path;
}

// ---- The index ----

std::string DamageText(const clsBackup& job, const IndexReport& report) {
    return GetMsg("strMsgIndexLinesDamaged", {{"%d", job.sName},
                                              {"%n", std::to_string(report.damagedLines)},
                                              {"%l", std::to_string(report.firstDamagedLine)},
                                              {"%r", report.firstDamage}});
}

bool LoadIndexOf(const std::string& jobName, DestinationFiles* shared, std::string& why) {
    gRestoreList.clear();
    gRestoreListDamagedLines = 0;
    gRestoreJob.reset();
    // A running backup owns the staging folder and is writing this very index.
    if (gBackupRunning) {
        why = GetMsg("strMsgRestoreWhileRunning");
        return false;
    }
    RestoreStagingClaim claim;
    gRestoreJob = FindBackup(jobName);
    if (!gRestoreJob) {
        why = GetMsg("strMsgRestoreNoSuchJob", "%d", jobName);
        return false;
    }
    const clsBackup& job = *gRestoreJob;
    if (job.destFTP && CurrentHost().MessageBox(GetMsg("strMsgNotStoredLocally"), MsgButtons::YesNo,
                                                MsgIcon::Question) != MsgAnswer::Yes) {
        why = GetMsg("strMsgRestoreDeclined");
        return false;
    }
    std::string staged;
    if (shared != nullptr) {
        staged = FetchFromDestination(*shared, IndexFileName(job.sName), why);
    } else {
        DestinationFiles destination(job);
        staged = FetchFromDestination(destination, IndexFileName(job.sName), why);
    }
    if (staged.empty())
        return false;

    std::vector<clsRestoreFileData> records;
    IndexReport report;
    const bool read = LoadIndexRecords(staged, records, &report);
    const std::string damage = report.damagedLines > 0 ? DamageText(job, report) : std::string();
    if (!read) {
        why = report.readError != 0 ? GetMsg("strMsgIndexCantRead",
                                             {{"%d", staged}, {"%e", ErrnoText(report.readError)}})
                                    : damage;
        return false;
    }
    if (records.empty()) {
        why = GetMsg("strMsgIndexEmpty");
        return false;
    }
    if (!damage.empty())
        ShowAndLog(damage, MsgIcon::Exclamation);
    gRestoreList = std::move(records);
    gRestoreListDamagedLines = report.damagedLines;
    return true;
}

// ---- The volumes ----

// The volumes of one restore: each fetched once, a few kept open.
class VolumeSet {
public:
    VolumeSet(const clsBackup& job, DestinationFiles* shared)
        : job_(job), owned_(shared != nullptr ? nullptr : std::make_unique<DestinationFiles>(job)),
          destination_(shared != nullptr ? *shared : *owned_) {}

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
        return job_.destFTP ? job_.sDestinationDir + "/" + VolumeFileName(name)
                            : JoinPath(job_.sDestinationDir, VolumeFileName(name));
    }

    void CloseAll() { open_.clear(); }

private:
    // A local volume that needs no decryption is read where it lies: a
    // staging copy would double the disk traffic and change nothing.
    bool Fetch(const std::string& name, std::string& path, std::string& why) {
        path = FetchFromDestination(destination_, VolumeFileName(name), why,
                                    DestinationFiles::Placement::InPlaceIfPlain);
        return !path.empty();
    }

    const clsBackup& job_;
    std::unique_ptr<DestinationFiles> owned_;
    DestinationFiles& destination_; // one connection for the whole restore
    std::map<std::string, std::string> fetched_;
    std::map<std::string, std::string> failed_;
    std::deque<std::pair<std::string, std::unique_ptr<VolumeReader>>> open_;
};

// ---- One restore ----

// One record on its way to the disk.
struct Plan {
    const clsRestoreFileData* rec = nullptr;
    std::string target;
    VolumeRun run;
    bool superseded = false;
};

enum class Copied { Ok, Failed, Aborted, LinkWaits };

class Restorer : public EntrySink {
public:
    Restorer(const clsBackup& job, const RestoreTarget& target, RestoreResult& result,
             DestinationFiles* shared)
        : target_(target), result_(result), volumes_(job, shared) {}

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
        const std::vector<Plan> plans = MakePlans(records);
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
        if (!result_.aborted)
            MakeLinks();
        CloseProgress();
        if (result_.aborted)
            WriteLog(GetMsg("strMsgRestoreAborted"));
        ShowClosingCount();
    }

    // Where ReadEntry gets its volumes and puts the file's bytes.
    VolumeReader* OpenVolume(const VolumeRun& run, std::int64_t number) override {
        const std::string name = run.Name(number);
        std::string why;
        bool shown = false;
        VolumeReader* reader = volumes_.Get(name, why, shown);
        if (reader != nullptr)
            return reader;
        const std::string text =
            number == run.first
                ? GetMsg("strMsgCantOpenArchiveToRestore", "%d", volumes_.DestinationPath(name))
                : GetMsg("strMsgCantFindArchive", "%d", VolumeFileName(name));
        // One box per volume; every file it costs gets its log line.
        if (!shown)
            ShowAndLog(text + " (" + why + ")");
        WriteLog(FailText(current_->rec->fname, text));
        return nullptr;
    }

    bool Write(std::string_view data, std::int64_t position) override {
        if (linkText_ != nullptr) {
            // Sized to the record beforehand; the reader writes no further.
            linkText_->replace(static_cast<std::size_t>(position), data.size(), data);
            return true;
        }
        // Zeros are left as a hole: the file reads the same and a sparse
        // original stays sparse.
        if (IsAllZero(data) || file_->WriteAt(data, position))
            return true;
        ShowAndLog(GetMsg("strMsgCantOpenFileToRestore", "%d", current_->target) + " (" +
                   ErrnoText(file_->LastErrno()) + ")");
        return false;
    }

    bool KeepGoing() override {
        YieldAndHonourPause();
        return !StopRequested();
    }

    void Progress(const VolumeRun& run, std::int64_t volume, std::int64_t written) override {
        const std::int64_t size = current_->rec->size;
        const double filePercent =
            size > 0 ? 100.0 * static_cast<double>(written) / static_cast<double>(size) : 100.0;
        const double overall = std::min(100.0, 100.0 * static_cast<double>(bytesDone_ + written) /
                                                   static_cast<double>(totalBytes_ + 1));
        if (volume != captionVolume_ || run.base != captionBase_) {
            captionVolume_ = volume;
            captionBase_ = run.base;
            caption_ = GetMsg("strMsgRestoreProgressCaption",
                              {{"%d", run.Name(volume)}, {"%i", std::to_string(volume)}});
        }
        const std::string& fname = current_->rec->fname;
        UpdateProgress(caption_, FileNameOf(fname) + " -> " + ParentFolder(current_->target),
                       filePercent, overall);
    }

private:
    // Every usable record with its target, in the order the volumes hold
    // them, so each volume is read front to back.
    std::vector<Plan> MakePlans(const std::vector<clsRestoreFileData>& records) {
        std::vector<Plan> plans;
        plans.reserve(records.size());
        std::unordered_map<std::string, std::size_t> byTarget;
        for (const clsRestoreFileData& rec : records) {
            std::string why = RecordDamage(rec);
            std::string target;
            if (why.empty())
                target = RestorePathFor(rec, target_, &why);
            if (!why.empty()) {
                ShowAndLog(FailText(rec.fname, GetMsg("strMsgEntryRefused", "%r", why)));
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
                const DateTime& session = plans[it->second].rec->dSession;
                WriteLog(FailText(rec.fname, GetMsg("strMsgVersionLeftOut", "%s",
                                                    session.Format("yyyyMMddHHmmss"))));
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

    Copied RestoreOne(const Plan& plan) {
        const clsRestoreFileData& rec = *plan.rec;
        current_ = &plan;
        // The first volume before any folder is made for a file it cannot give.
        if (OpenVolume(plan.run, plan.run.first) == nullptr)
            return Copied::Failed;
        const std::string folder = ParentFolder(plan.target);
        const std::string cantOpen = GetMsg("strMsgCantOpenFileToRestore", "%d", plan.target);
        if (!EnsureFolder(folder)) {
            const int err = errno;
            ShowAndLog(cantOpen + " (" + folder + ": " + ErrnoText(err) + ")");
            return Copied::Failed;
        }
        if (IsLinkAttribute(rec.Attrib))
            return ReadLink(plan);
        ReplacingFile file;
        if (!file.Create(plan.target)) {
            ShowAndLog(cantOpen + " (" + ErrnoText(file.LastErrno()) + ")");
            return Copied::Failed;
        }
        file_ = &file;
        const Copied read = ReadBack(rec);
        file_ = nullptr;
        if (read != Copied::Ok)
            return read;
        if (!file.Finish(rec.size, ModeFor(rec.Attrib), RestoredTimes(rec).data()) ||
            !file.Commit()) {
            ShowAndLog(cantOpen + " (" + ErrnoText(file.LastErrno()) + ")");
            return Copied::Failed;
        }
        return Copied::Ok;
    }

    // A link's target text is read and checked like a file's bytes, and the
    // link waits until every file is in place.
    Copied ReadLink(const Plan& plan) {
        const clsRestoreFileData& rec = *plan.rec;
        const auto unusable = [&] {
            ShowAndLog(FailText(rec.fname, GetMsg("strMsgLinkTextUnusable")));
            return Copied::Failed;
        };
        if (!RestoreLinks::UsableSize(rec.size))
            return unusable();
        std::string text(static_cast<std::size_t>(rec.size), '\0');
        linkText_ = &text;
        const Copied read = ReadBack(rec);
        linkText_ = nullptr;
        if (read != Copied::Ok)
            return read;
        if (!RestoreLinks::UsableText(text))
            return unusable();
        links_.Add({rec.fname, plan.target, std::move(text), RestoredTimes(rec)});
        return Copied::LinkWaits;
    }

    // The record's bytes through Write, checked against its checksum.
    Copied ReadBack(const clsRestoreFileData& rec) {
        std::string why;
        const EntryRead read = ReadEntry(rec, *this, why);
        if (read == EntryRead::Failed)
            ShowAndLog(FailText(rec.fname, why));
        return read == EntryRead::Ok        ? Copied::Ok
               : read == EntryRead::Stopped ? Copied::Aborted
                                            : Copied::Failed;
    }

    void MakeLinks() {
        std::vector<std::string> failures;
        result_.restored += links_.MakeAll(failures);
        for (const std::string& text : failures)
            ShowAndLog(text);
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

    void ShowClosingCount() {
        const std::string text =
            GetMsg("strMsgNrRestoredFiles", {{"%1", std::to_string(result_.restored)},
                                             {"%2", std::to_string(result_.selected)},
                                             {"%d", target_.chosenFolder}});
        const MsgIcon icon = result_.AllRestored()  ? MsgIcon::Information
                             : result_.restored > 0 ? MsgIcon::Exclamation
                                                    : MsgIcon::Critical;
        ShowAndLog(text, icon);
    }

    const RestoreTarget& target_;
    RestoreResult& result_;
    VolumeSet volumes_;
    const Plan* current_ = nullptr;
    ReplacingFile* file_ = nullptr;
    std::string* linkText_ = nullptr; // where a link's target text goes while it is read
    RestoreLinks links_;
    std::unordered_set<std::string> madeFolders_;
    std::int64_t totalBytes_ = 0;
    std::int64_t bytesDone_ = 0;
    std::int64_t captionVolume_ = -1;
    std::string captionBase_;
    std::string caption_;
};

// A restore counts as a run: pause and cancel reach it, and no backup starts
// meanwhile.
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

bool LoadRestoreListThrough(DestinationFiles* shared, const std::string& jobName,
                            std::string* why) {
    std::string reason;
    if (LoadIndexOf(jobName, shared, reason))
        return true;
    WriteLog(GetMsg("strMsgErrorRetrieveBackupData") + " (" + reason + ")");
    if (why != nullptr)
        *why = reason;
    return false;
}

RestoreResult RestoreFilesThrough(DestinationFiles* shared, const clsBackup& job,
                                  const std::vector<clsRestoreFileData>& records,
                                  const RestoreTarget& target) {
    RestoreResult result;
    result.selected = static_cast<int>(records.size());
    if (gBackupRunning) {
        ShowAndLog(GetMsg("strMsgRestoreWhileRunning"));
        return result;
    }
    RestoreStagingClaim claim;
    RunningRestore running;
    try {
        Restorer restorer(job, target, result, shared);
        restorer.Run(records);
    } catch (const std::exception& e) {
        CloseProgress();
        ShowAndLog(GetMsg("strMsgErrorRetrieveBackupData") + " (" + e.what() + ")",
                   MsgIcon::Exclamation);
    }
    return result;
}

} // namespace

bool LoadRestoreList(const std::string& jobName, std::string* why) {
    return LoadRestoreListThrough(nullptr, jobName, why);
}

bool LoadRestoreList(DestinationFiles& destination, const std::string& jobName, std::string* why) {
    return LoadRestoreListThrough(&destination, jobName, why);
}

std::optional<RestoreTarget> AskRestoreTarget() {
    return AskForFolder(true);
}

std::optional<RestoreTarget> PickRestoreFolder() {
    return AskForFolder(false);
}

RestoreResult RestoreFiles(const clsBackup& job, const std::vector<clsRestoreFileData>& records,
                           const RestoreTarget& target) {
    return RestoreFilesThrough(nullptr, job, records, target);
}

RestoreResult RestoreFiles(DestinationFiles& destination, const clsBackup& job,
                           const std::vector<clsRestoreFileData>& records,
                           const RestoreTarget& target) {
    return RestoreFilesThrough(&destination, job, records, target);
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
