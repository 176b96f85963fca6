#pragma once
#include <string>

#include "jobs/clsBackup.h"
#include "platform/DateTime.h"

// A job renamed, or given another password or protection, can no longer use
// the index its earlier runs left at the destination: under the new name
// there is none, and one written with another password cannot be read. So the
// next run starts a new full set, and the earlier index is kept beside the
// new one under a name that says until when it was used.

// Whether the change from `before` to `after` makes the next run start a new set.
bool ChangeNeedsNewSet(const clsBackup& before, const clsBackup& after);

// Whether the job's index lies at its destination. When an FTP destination
// cannot be asked the answer is yes: the user is asked, and the attempt to
// keep the index then says what went wrong.
bool HasBackups(const clsBackup& oldJob);

// "Name-until-YYYYMMDDhhmm.fs", and from the second attempt on "-2", "-3" ...
// before ".fs". Names typed in the editor lose their hyphens, so no job can
// ever own one of these as its index.
std::string KeptIndexName(const std::string& jobName, const DateTime& until, int attempt);

// Renames the job's index at its destination to the first free kept name for
// the program clock's present minute, never replacing a file. True when
// nothing is lost: `keptName` is the new name, or empty when there was no
// index. False with `why` (a whole sentence) when the index stays as it was.
bool KeepEarlierIndex(const clsBackup& oldJob, std::string& keptName, std::string& why);
