#include "engine/VerifyRun.h"

#include "archive/VolumeReader.h"
#include "core/Globals.h"
#include "core/Progress.h"
#include "engine/DestinationFiles.h"
#include "engine/RestoreRun.h"
#include "i18n/Catalogue.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

namespace {

bool StopRequested() {
    return gAbort || gQuitting;
}

std::string SpanText(const VolumeRun& run, std::int64_t first, std::int64_t last) {
    const std::string from = VolumeFileName(run.Name(first));
    return first == last ? from : from + ".." + VolumeFileName(run.Name(last));
}

// The volumes of one check, each fetched once. Records come in volume order,
// so a volume before the current record's first one is never wanted again:
// its reader is closed and a staged copy removed at once, and a protected or
// remote job never needs more staging room than the few volumes one entry
// spans.
class VolumeCache {
public:
    VolumeCache(const clsBackup& job, DestinationFiles& destination)
        : job_(job), destination_(destination) {}
    ~VolumeCache() { ReleaseBefore(std::string(), 0, true); }
    VolumeCache(const VolumeCache&) = delete;
    VolumeCache& operator=(const VolumeCache&) = delete;

    // The reader for volume `number` of `run`; nullptr with the reason in `why`.
    VolumeReader* Get(const VolumeRun& run, std::int64_t number, std::string& why) {
        Volume& volume = volumes_[{run.base, number}];
        if (volume.reader || !volume.failure.empty()) {
            why = volume.failure;
            return volume.reader.get();
        }
        const std::string name = VolumeFileName(run.Name(number));
        if (!destination_.Connect()) {
            volume.failure = GetMsg("strMsgCantConnectToFTP");
        } else {
            // A plain local volume is read where it lies; anything else is
            // downloaded or decrypted into staging first.
            const DestinationFiles::Fetched fetched =
                destination_.Fetch(name, DestinationFiles::Placement::InPlaceIfPlain);
            if (fetched.outcome != DestinationFiles::Fetched::Done) {
                volume.failure = fetched.reason;
            } else {
                volume.path = fetched.path;
                auto reader = std::make_unique<VolumeReader>();
                if (reader->Open(volume.path, job_.bZipped))
                    volume.reader = std::move(reader);
                else
                    volume.failure =
                        name + ": " +
                        std::strerror(reader->LastErrno() != 0 ? reader->LastErrno() : EIO);
            }
        }
        if (!volume.failure.empty())
            RemoveStaged(volume.path);
        why = volume.failure;
        return volume.reader.get();
    }

    // Lets go of every volume that comes before `number` of `base` (all with `all`).
    void ReleaseBefore(const std::string& base, std::int64_t number, bool all = false) {
        const auto end = all ? volumes_.end() : volumes_.lower_bound({base, number});
        for (auto it = volumes_.begin(); it != end; ++it) {
            it->second.reader.reset();
            RemoveStaged(it->second.path);
        }
        volumes_.erase(volumes_.begin(), end);
    }

private:
    struct Volume {
        std::string path;
        std::unique_ptr<VolumeReader> reader;
        std::string failure;
    };

    static void RemoveStaged(const std::string& path) {
        const std::string staging = TempFolder() + "/";
        if (path.compare(0, staging.size(), staging) == 0)
            RemoveFile(path);
    }

    const clsBackup& job_;
    DestinationFiles& destination_;
    // Ordered as the records are read: base name, then number.
    std::map<std::pair<std::string, std::int64_t>, Volume> volumes_;
};

// Reads records through ReadEntry; the bytes are only summed, never written.
class Checker : public EntrySink {
public:
    Checker(VolumeCache& volumes, std::int64_t totalBytes)
        : volumes_(volumes), totalBytes_(totalBytes) {}

    // Nothing when the record holds; otherwise what is wrong and where.
    std::optional<VerifyFinding> Check(const clsRestoreFileData& rec, const VolumeRun& run) {
        rec_ = &rec;
        volume_ = run.first;
        openFailure_.clear();
        std::string why;
        const EntryRead read = ReadEntry(rec, *this, why);
        bytesDone_ += rec.size;
        if (read == EntryRead::Ok || read == EntryRead::Stopped)
            return std::nullopt;
        VerifyFinding finding{rec.fname, rec.dSession, std::string(), why};
        if (read == EntryRead::Reported) {
            // The volume that could not be had is the one at fault.
            finding.volumes = SpanText(run, volume_, volume_);
            finding.why = openFailure_;
            finding.missing = true;
        } else {
            // Every volume read so far gave bytes to the checksum.
            finding.volumes = SpanText(run, run.first, volume_);
        }
        return finding;
    }

    VolumeReader* OpenVolume(const VolumeRun& run, std::int64_t number) override {
        volume_ = number;
        return volumes_.Get(run, number, openFailure_);
    }
    bool Write(std::string_view, std::int64_t) override { return true; }
    bool KeepGoing() override {
        YieldAndHonourPause();
        return !StopRequested();
    }
    void Progress(const VolumeRun& run, std::int64_t volume, std::int64_t written) override {
        const double overall = std::min(100.0, 100.0 * static_cast<double>(bytesDone_ + written) /
                                                   static_cast<double>(totalBytes_ + 1));
        // Thousands of small files share a volume: its caption is made once.
        const std::string name = VolumeFileName(run.Name(volume));
        if (name != captionVolume_) {
            captionVolume_ = name;
            caption_ = GetMsg("strMsgVerifyProgress", "%d", name);
        }
        UpdateProgress(caption_, rec_->fname, 0, overall);
    }

private:
    VolumeCache& volumes_;
    const clsRestoreFileData* rec_ = nullptr;
    std::int64_t volume_ = 0;
    std::string openFailure_;
    std::int64_t totalBytes_;
    std::int64_t bytesDone_ = 0;
    std::string captionVolume_;
    std::string caption_;
};

// A check counts as a run, as a restore does: cancel and pause reach it, and
// no backup starts meanwhile.
class RunningCheck {
public:
    RunningCheck() {
        gBackupRunning = true;
        gAbort = false;
        gPaused = false;
    }
    ~RunningCheck() { gBackupRunning = false; }
    RunningCheck(const RunningCheck&) = delete;
    RunningCheck& operator=(const RunningCheck&) = delete;
};

struct Planned {
    const clsRestoreFileData* rec;
    VolumeRun run;
};

void CheckRecords(const std::vector<Planned>& plans, VolumeCache& volumes, VerifyResult& result,
                  const std::function<void(const VerifyFinding&)>& onDamage) {
    // Volumes counted as spans, so an index claiming millions of volumes for
    // one entry costs no more than any other.
    std::int64_t totalBytes = 0;
    std::string base;
    std::int64_t covered = -1; // the last volume of `base` counted
    for (const Planned& plan : plans) {
        totalBytes += plan.rec->size;
        if (plan.run.base != base) {
            base = plan.run.base;
            covered = -1;
        }
        const std::int64_t from = std::max(plan.run.first, covered + 1);
        if (plan.run.last >= from)
            result.volumes += static_cast<std::size_t>(plan.run.last - from + 1);
        covered = std::max(covered, plan.run.last);
    }
    Checker checker(volumes, totalBytes);
    for (const Planned& plan : plans) {
        if (StopRequested())
            break;
        volumes.ReleaseBefore(plan.run.base, plan.run.first);
        std::optional<VerifyFinding> finding = checker.Check(*plan.rec, plan.run);
        // What a cancel cut short is no damage.
        if (StopRequested())
            break;
        ++result.files;
        if (finding) {
            ++result.damaged;
            onDamage(*finding);
        }
    }
    result.aborted = StopRequested();
}

} // namespace

VerifyResult VerifyBackup(const std::string& jobName, const std::optional<DateTime>& session,
                          const std::function<void(const VerifyFinding&)>& onDamage) {
    VerifyResult result;
    const auto unreadable = [&](const std::string& why) {
        result.problem = GetMsg("strMsgJobIndexUnreadable", {{"%d", jobName}, {"%r", why}});
        return result;
    };
    if (gBackupRunning)
        return unreadable(GetMsg("strMsgVerifyWhileRunning"));
    const std::shared_ptr<clsBackup> job = FindBackup(jobName);
    if (!job)
        return unreadable(GetMsg("strMsgRestoreNoSuchJob", "%d", jobName));
    RestoreStagingClaim claim;
    DestinationFiles destination(*job);
    const std::string stagedIndex = JoinPath(TempFolder(), IndexFileName(job->sName));
    std::string why;
    if (!LoadRestoreList(destination, jobName, &why)) {
        RemoveFile(stagedIndex);
        result.aborted = StopRequested();
        return unreadable(why);
    }
    RemoveFile(stagedIndex);
    result.damagedIndexLines = gRestoreListDamagedLines;

    std::vector<Planned> plans;
    for (const clsRestoreFileData& rec : gRestoreList) {
        if (session && rec.dSession != *session)
            continue;
        // The index reader let only usable records through.
        if (const std::optional<VolumeRun> run = VolumeRunOf(rec))
            plans.push_back({&rec, *run});
    }
    if (plans.empty()) {
        result.problem = session
                             ? GetMsg("strMsgVerifyNoSession",
                                      {{"%d", jobName}, {"%s", session->Format("yyyyMMddHHmmss")}})
                             : GetMsg("strMsgIndexEmpty");
        return result;
    }
    // Each volume front to back: a gzip stream is only ever read forward.
    std::stable_sort(plans.begin(), plans.end(), [](const Planned& a, const Planned& b) {
        return std::tie(a.run.base, a.run.first, a.rec->soffs) <
               std::tie(b.run.base, b.run.first, b.rec->soffs);
    });
    RunningCheck running;
    ShowProgress(GetMsg("strMsgVerifyProgress", "%d", job->sName));
    {
        VolumeCache volumes(*job, destination);
        CheckRecords(plans, volumes, result, onDamage);
    }
    CloseProgress();
    destination.Close();
    return result;
}

std::string VerifyFindingText(const VerifyFinding& finding) {
    return GetMsg(finding.missing ? "strMsgVerifyMissing" : "strMsgVerifyDamaged",
                  {{"%d", finding.file},
                   {"%s", finding.session.Format("yyyyMMddHHmmss")},
                   {"%v", finding.volumes},
                   {"%r", finding.why}});
}

std::string VerifySummaryText(const std::string& jobName, const VerifyResult& result) {
    const bool whole = result.damaged == 0 && result.damagedIndexLines == 0;
    return GetMsg(whole ? "strMsgVerifyAllHold" : "strMsgVerifySomeFail",
                  {{"%d", jobName},
                   {"%n", std::to_string(result.files)},
                   {"%v", std::to_string(result.volumes)},
                   {"%b", std::to_string(result.damaged)},
                   {"%l", std::to_string(result.damagedIndexLines)}});
}
