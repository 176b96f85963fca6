#pragma once
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "platform/DateTime.h"

// Reading a job's volumes back without restoring anything: every record of
// its index (or of one session) is cut out of its volumes as a restore would
// and checked against its checksum and trailer, but its bytes go nowhere.
// Volumes come from the destination as for a restore, local or over FTP; what
// has to be staged (downloads, decrypted copies) is removed again as soon as
// no later record needs it. No window here, so the desktop can offer it too.

// One stored file that cannot be had back intact.
struct VerifyFinding {
    std::string file; // its full name as stored
    DateTime session;
    std::string volumes;  // the volume file at fault, or the span read ("a.darc..b.darc")
    std::string why;      // what is wrong, as a phrase
    bool missing = false; // the volume could not be had at all (gone, unreadable, undecryptable)
};

struct VerifyResult {
    std::string problem;               // a sentence when the check could not be made at all
    std::size_t damagedIndexLines = 0; // index lines left out as unreadable
    std::size_t files = 0;             // records checked
    std::size_t volumes = 0;           // volumes those records occupy
    std::size_t damaged = 0;           // records that did not hold
    bool aborted = false;

    bool AllHold() const {
        return problem.empty() && !aborted && damaged == 0 && damagedIndexLines == 0;
    }
};

// Checks the records of job `jobName` (those of `session` alone when given),
// in volume order, calling `onDamage` for each one that does not hold as soon
// as it is found. The index is read as for the restore browser, replacing
// gRestoreList. Refused while a backup runs; a cancel (gAbort) stops it.
VerifyResult VerifyBackup(const std::string& jobName, const std::optional<DateTime>& session,
                          const std::function<void(const VerifyFinding&)>& onDamage);

// The line for a finding and the closing summary, from the catalogue.
std::string VerifyFindingText(const VerifyFinding& finding);
std::string VerifySummaryText(const std::string& jobName, const VerifyResult& result);
