#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/ArchiveIndex.h"
#include "jobs/clsBackup.h"
#include "platform/DateTime.h"

// Restoring stored files: a job's index read back into records, and chosen
// records cut out of their volumes into their original folders or below a
// chosen one. No window here: questions and the folder picker go through the
// host, so the restore browser and tidevault-cli share all of it.

// The records of the job being browsed, in index order, and that job.
extern std::vector<clsRestoreFileData> gRestoreList;
extern std::shared_ptr<clsBackup> gRestoreJob;

// Fetches the job's index into the staging folder, decrypts it for a
// protected job and reads it into gRestoreList. False when there is no such
// job, the index cannot be fetched, decrypted or read, or it holds no record;
// `why` then receives the reason as a sentence.
bool LoadRestoreList(const std::string& jobName, std::string* why = nullptr);

// Where restored files go.
struct RestoreTarget {
    // Empty: every file back to its own folder. Otherwise the original folder
    // tree is rebuilt below this one.
    std::string chosenFolder;

    bool ToOriginalFolders() const { return chosenFolder.empty(); }
};

struct RestoreResult {
    int selected = 0; // records handed in ("%2" of the closing message)
    int restored = 0; // files in place with verified contents ("%1")
    bool aborted = false;

    bool AllRestored() const { return selected > 0 && restored == selected; }
};

// The questions before a restore: back to the original folders, or a folder
// from the picker. Nothing when the user gave up (strMsgRestoreAborted has
// then been shown).
std::optional<RestoreTarget> AskRestoreTarget();
// The picker half alone, for a caller that already knows a folder is wanted.
std::optional<RestoreTarget> PickRestoreFolder();

// Restores the records of `job`, in volume order. Each file is written beside
// its target under a temporary name, its checksum verified, its permissions
// and times set, and only then renamed into place: a file that fails leaves
// whatever was there before untouched. Every failure is shown and logged;
// the closing count is shown through the host. Refused while a backup runs.
RestoreResult RestoreFiles(const clsBackup& job, const std::vector<clsRestoreFileData>& records,
                           const RestoreTarget& target);

// The restore browser's command: the questions, then RestoreFiles for
// gRestoreJob.
RestoreResult RestoreFiles(const std::vector<clsRestoreFileData>& records);

// What makes a record unusable (impossible numbers, a broken checksum text,
// volume names that are no names); empty when it can be restored.
std::string RecordDamage(const clsRestoreFileData& rec);

// Where a record's file goes. Empty, with the reason in `why`, for a name that
// is not a full path or holds a ".." component: it could lead outside the
// target.
std::string RestorePathFor(const clsRestoreFileData& rec, const RestoreTarget& target,
                           std::string* why = nullptr);

// The volumes an entry occupies, first to last ("Daily", "Daily-001", ...);
// empty when arcStart and arcEnd do not form such a run.
std::vector<std::string> VolumeChain(const clsRestoreFileData& rec);

// What tidevault-cli restores: the newest stored version of each file
// (optionally at or before a session), narrowed to full names or folder
// prefixes when any are given.
struct RestoreSelection {
    std::vector<clsRestoreFileData> records; // in index order
    std::vector<std::string> unmatchedPaths; // asked for, but nothing stored matches
};
RestoreSelection SelectNewestVersions(const std::vector<clsRestoreFileData>& list,
                                      const std::optional<DateTime>& atOrBefore,
                                      const std::vector<std::string>& paths);
