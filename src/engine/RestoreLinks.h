#pragma once
#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "archive/ArchiveIndex.h"

// Access and write time a restored file or link is given; a record without
// an access time gets its write time for both.
std::array<struct timespec, 2> RestoredTimes(const clsRestoreFileData& rec);

// The symbolic links of one restore. An archive may be hostile: a record
// "a/link -> /etc" followed by "a/link/passwd" must not write into /etc. So
// links are made only after every file of the restore is in place (no file
// is ever written through one), and a link whose folder is reached through a
// link this restore made is refused; the links made are known by device and
// inode, so no spelling of a path slips past. Links the user already had on
// the way are followed, as for files.
class RestoreLinks {
public:
    struct Pending {
        std::string fname;  // as the index names it
        std::string target; // where the link goes
        std::string text;   // what it points at
        std::array<struct timespec, 2> times{};
    };

    // Whether a stored target text can be made into a link at all: not
    // empty, shorter than the system's path limit, no zero byte.
    static bool UsableText(std::string_view text);
    static bool UsableSize(std::int64_t size);

    void Add(Pending link) { pending_.push_back(std::move(link)); }

    // Makes every waiting link in the order added; the number made. Each
    // failure adds its text (a whole sentence) to `failures`.
    int MakeAll(std::vector<std::string>& failures);

private:
    // 0, an errno, or -1 when the link's folder lies behind a link made
    // before in this restore (`behind` then names that link).
    int Make(const Pending& link, std::string& behind);
    bool BehindMadeLink(const std::string& folder, std::string& which) const;

    std::vector<Pending> pending_;
    std::set<std::pair<dev_t, ino_t>> made_;
};
