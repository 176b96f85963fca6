#pragma once
#include <string>
#include <vector>

#include "archive/clsDskFile.h"
#include "jobs/clsBackupFile.h"

// Appends one record per regular file and symbolic link below the folder of
// `pattern` (folder + "/*.*"), at any depth. A link (to a file, to a folder,
// or dangling) is listed as itself: its own mode, times and target text, the
// size being the text's length; it is never followed, so no folder is entered
// twice. The folder of the pattern is followed when it is a link: the user
// chose it. FIFOs, sockets and devices are passed over without being opened. A folder that cannot
// be read adds nothing. Polls gAbort, gQuitting and gPaused after every entry.
void SearchFiles(const std::string& pattern, FileList& list);

// The record of a single-file source: the name as on disk (empty when the
// file is missing), the size stored in the entry, attributes and times from
// the file when it exists.
clsDskFile SingleFileRecord(const clsBackupFile& entry);

// Thins the list by the job's masks (";"-separated, like "*.doc;*.xls"). An
// include list that says more than "*.*" decides alone; otherwise the exclude
// list removes what it matches. The order of the kept files is unchanged.
void ApplyMaskFilter(FileList& list, const std::string& include, const std::string& exclude);

// The editor's mask history: "*.*" first, then the stored masks in order.
// `which` 1 gives the include list, 2 the exclude list; any other value none.
std::vector<std::string> MaskHistory(int which);
