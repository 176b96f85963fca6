#pragma once
#include <string>
#include <vector>

#include "archive/ArchiveIndex.h"
#include "archive/clsDskFile.h"

// Runs one job from start to result: lists its sources, filters them, drops
// unchanged files in an incremental run, packs archives, encrypts protected
// deliveries, delivers and records the result state. The run works on its own
// copy of the job and writes the results back to the job of that name. All
// outcome is in the job's state, the activity log and what the host shows.
// Refused while another run goes on or a restore holds the staging folder.
void RunBackup(const std::string& name);

// Incremental selection: removes every listed file whose full name and
// last-write time match a record of the previous index, a symbolic link only
// when that record is a link of the same target text.
void DropUnchangedFiles(FileList& list, const std::vector<clsRestoreFileData>& records);
