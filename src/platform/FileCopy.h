#pragma once
#include <string>
#include <sys/stat.h>

// Copies `source` to `target` through a temporary file in the target's folder
// that is renamed into place only when complete: the target never shows a
// truncated file, and a failed copy leaves an older target as it was. Keeps
// the source's permission bits and access and write times. Returns 0 or the
// errno of the failure (ENOSPC for a full disk).
int CopyFileReplacing(const std::string& source, const std::string& target);
// The same into the file `name` of the open folder `folderFd`.
int CopyFileReplacingAt(const std::string& source, int folderFd, const std::string& name);

// The target text of the symbolic link `name` in the folder `folderFd`
// (AT_FDCWD: a path); false when it is no link or cannot be read.
bool ReadLinkText(int folderFd, const char* name, std::string& text);

// Makes `target` a symbolic link holding `text`, with the link's own access
// and write times: made under a temporary name beside the target and renamed
// over it, so a file or link already there is replaced in one step and a
// folder there stays. Returns 0 or the errno of the failure.
int PlaceLinkReplacing(const std::string& text, const std::string& target,
                       const struct timespec times[2]);
