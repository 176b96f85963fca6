#pragma once
#include <optional>
#include <string>
#include <vector>

#include "archive/ArchiveIndex.h"
#include "platform/DateTime.h"

// Which stored files a restore takes, and where each one goes.

struct RestoreTarget {
    // Empty: every file back to its own folder. Otherwise the original folder
    // tree is rebuilt below this one.
    std::string chosenFolder;

    bool ToOriginalFolders() const { return chosenFolder.empty(); }
};

// Where a record's file goes. Empty, with the reason in `why`, for a name that
// is not a full path or holds a "." or ".." component: it could lead outside
// the target.
std::string RestorePathFor(const clsRestoreFileData& rec, const RestoreTarget& target,
                           std::string* why = nullptr);

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
