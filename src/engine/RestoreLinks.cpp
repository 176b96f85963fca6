#include "engine/RestoreLinks.h"

#include "i18n/Catalogue.h"
#include "platform/FileCopy.h"
#include "platform/FileSystem.h"

#include <cerrno>
#include <climits>
#include <cstring>

std::array<struct timespec, 2> RestoredTimes(const clsRestoreFileData& rec) {
    const FileTimeHalves& access =
        rec.tLastAccessTimeGet().Value() != 0 ? rec.tLastAccessTimeGet() : rec.tLastWriteTimeGet();
    return {UnixFromFileTime(access), UnixFromFileTime(rec.tLastWriteTimeGet())};
}

bool RestoreLinks::UsableSize(std::int64_t size) {
    return size > 0 && size < PATH_MAX;
}

bool RestoreLinks::UsableText(std::string_view text) {
    return UsableSize(static_cast<std::int64_t>(text.size())) &&
           text.find('\0') == std::string_view::npos;
}

// Every level of the folder from the root down, as it is on disk now.
bool RestoreLinks::BehindMadeLink(const std::string& folder, std::string& which) const {
    if (made_.empty())
        return false;
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string level = folder.substr(0, slash);
        struct stat st {};
        if (::lstat(level.c_str(), &st) != 0)
            return false; // what is missing below will be no link of ours
        if (S_ISLNK(st.st_mode) && made_.count({st.st_dev, st.st_ino}) != 0) {
            which = level;
            return true;
        }
        if (slash == std::string::npos)
            return false;
    }
}

int RestoreLinks::Make(const Pending& link, std::string& behind) {
    if (BehindMadeLink(ParentFolder(link.target), behind))
        return -1;
    if (const int err = PlaceLinkReplacing(link.text, link.target, link.times.data()); err != 0)
        return err;
    struct stat st {};
    if (::lstat(link.target.c_str(), &st) == 0)
        made_.insert({st.st_dev, st.st_ino});
    return 0;
}

int RestoreLinks::MakeAll(std::vector<std::string>& failures) {
    int made = 0;
    for (const Pending& link : pending_) {
        std::string behind;
        const int err = Make(link, behind);
        if (err == 0)
            ++made;
        else if (err < 0)
            failures.push_back(
                GetMsg("strMsgRestoreFail",
                       {{"%d", link.fname}, {"%r", GetMsg("strMsgLinkBehindLink", "%d", behind)}}));
        else
            failures.push_back(GetMsg("strMsgCantOpenFileToRestore", "%d", link.target) + " (" +
                               std::strerror(err) + ")");
    }
    pending_.clear();
    return made;
}
