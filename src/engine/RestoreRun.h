#pragma once
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/ArchiveIndex.h"
#include "archive/RecordCheck.h"
#include "engine/RestoreSelection.h"
#include "jobs/clsBackup.h"

class DestinationFiles;

// The restore run: a job's index fetched and read into records, and chosen
// records cut out of their volumes into their original folders or below a
// chosen one. No window here: questions and the folder picker go through the
// host, so the restore browser and tidevault-cli share all of it. A restore
// and a backup run never share the staging folder: either refuses while the
// other holds it.

// The records of the job being browsed, in index order, and that job.
extern std::vector<clsRestoreFileData> gRestoreList;
extern std::shared_ptr<clsBackup> gRestoreJob;
// How many lines of that index were damaged and left out (0: it was whole).
extern std::size_t gRestoreListDamagedLines;

// Fetches the job's index into the staging folder, decrypts it for a
// protected job and reads it into gRestoreList. Damaged lines are left out
// and the user is told. False when a backup is running, there is no such job,
// or the index cannot be fetched, decrypted or read, or holds no usable
// record; `why` then receives the reason as a sentence.
bool LoadRestoreList(const std::string& jobName, std::string* why = nullptr);
// The same through a connection the caller keeps (the restore browser's, made
// for the same job), so the volumes later come over it too.
bool LoadRestoreList(DestinationFiles& destination, const std::string& jobName,
                     std::string* why = nullptr);

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
// the closing count is shown through the host. Refused while a backup runs;
// holds the staging folder while it works.
RestoreResult RestoreFiles(const clsBackup& job, const std::vector<clsRestoreFileData>& records,
                           const RestoreTarget& target);
// The same over the caller's connection to the job's destination.
RestoreResult RestoreFiles(DestinationFiles& destination, const clsBackup& job,
                           const std::vector<clsRestoreFileData>& records,
                           const RestoreTarget& target);

// The restore browser's command: the questions, then RestoreFiles for
// gRestoreJob.
RestoreResult RestoreFiles(const std::vector<clsRestoreFileData>& records);
