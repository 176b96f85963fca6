#pragma once
#include <string>
#include <vector>

#include "archive/ArchiveIndex.h"
#include "archive/clsDskFile.h"
#include "engine/DestinationFiles.h"
#include "jobs/clsBackup.h"

struct ArchiveResult {
    enum Outcome {
        Done,
        Aborted,       // the user cancelled, or a source file failed while being read
        StagingFailed, // a volume or the index could not be written (already logged)
        DiskFull,      // the staging disk ran out of space
    };
    Outcome outcome = Aborted;
    int refusedNames = 0; // files not stored: the index cannot hold their names
};

// Packs the listed files into volumes in the staging folder and replaces the
// list by the volumes followed by the index. `previous` holds the records of
// the index being continued: an incremental archive takes neither a volume
// name nor a session stamp that one of them uses, nor the name of a volume
// the destination already holds.
ArchiveResult CreateBackupArchive(clsBackup& job, FileList& list,
                                  const std::vector<clsRestoreFileData>& previous,
                                  const DestinationFiles& destination);

// Empties the staging folder (files only).
void ClearTempFolder();
