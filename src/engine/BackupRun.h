#pragma once
#include <string>

#include "archive/ArchiveIndex.h"
#include "archive/clsDskFile.h"

#include <vector>

// Runs one job from start to result: lists its sources, filters them, drops
// unchanged files in an incremental run, packs archives, encrypts protected
// deliveries, delivers and records the result state. All outcome is in the
// job's state, the activity log and what the host shows.
void RunBackup(const std::string& name);

// Incremental selection: removes every listed file whose full name and
// last-write time match a record of the previous index.
void DropUnchangedFiles(FileList& list, const std::vector<clsRestoreFileData>& records);
