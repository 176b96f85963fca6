#include "jobs/JobChecks.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Resolves what exists of the path (links included, so a destination reached
// through a link into a source is caught); the rest is only tidied up.
fs::path Normalized(const std::string& text) {
    std::error_code error;
    fs::path path = fs::weakly_canonical(fs::path(text), error);
    if (error)
        path = fs::absolute(fs::path(text), error).lexically_normal();
    // "/a/b/" and "/a/b" name the same folder.
    if (!path.has_filename() && path.has_parent_path() && path != path.root_path())
        path = path.parent_path();
    return path;
}

bool IsWithin(const fs::path& inner, const fs::path& outer) {
    const auto [outerEnd, innerAt] =
        std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
    return outerEnd == outer.end();
}

} // namespace

std::string DestinationInsideSource(const clsBackup& job) {
    if (job.destFTP || job.sDestinationDir.empty())
        return std::string();
    const fs::path destination = Normalized(job.sDestinationDir);
    for (const clsBackupFile& source : job.Files) {
        if (source.bForD != 1 || source.sPath.empty())
            continue;
        if (IsWithin(destination, Normalized(source.sPath)))
            return source.sPath;
    }
    return std::string();
}
