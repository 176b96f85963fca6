#pragma once
#include <string>

// Copies `source` to `target` through a temporary file in the target's folder
// that is renamed into place only when complete: the target never shows a
// truncated file, and a failed copy leaves an older target as it was. Keeps
// the source's permission bits and access and write times. Returns 0 or the
// errno of the failure (ENOSPC for a full disk).
int CopyFileReplacing(const std::string& source, const std::string& target);
