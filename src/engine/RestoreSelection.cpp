#include "engine/RestoreSelection.h"

#include "i18n/Catalogue.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

namespace {

bool HasDotComponent(const std::string& path) {
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t slash = path.find('/', pos);
        if (slash == std::string::npos)
            slash = path.size();
        const std::string_view part(path.data() + pos, slash - pos);
        if (part == "." || part == "..")
            return true;
        pos = slash + 1;
    }
    return false;
}

bool MatchesPath(const std::string& fname, const std::string& path) {
    if (path == "/")
        return !fname.empty() && fname[0] == '/';
    return fname == path || (fname.size() > path.size() &&
                             fname.compare(0, path.size(), path) == 0 && fname[path.size()] == '/');
}

} // namespace

std::string RestorePathFor(const clsRestoreFileData& rec, const RestoreTarget& target,
                           std::string* why) {
    auto refuse = [&](const char* key) {
        if (why != nullptr)
            *why = GetMsg(key);
        return std::string();
    };
    const std::string bare = StripDrivePrefix(rec.fname);
    if (bare.find('\0') != std::string::npos)
        return refuse("strMsgPathNul");
    if (bare.empty() || bare[0] != '/')
        return refuse("strMsgPathNotFull");
    if (bare.back() == '/')
        return refuse("strMsgPathFolderEnd");
    if (HasDotComponent(bare))
        return refuse("strMsgPathDots");
    if (target.ToOriginalFolders())
        return rec.fname;
    std::string folder = target.chosenFolder;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder == "/" ? bare : folder + bare;
}

RestoreSelection SelectNewestVersions(const std::vector<clsRestoreFileData>& list,
                                      const std::optional<DateTime>& atOrBefore,
                                      const std::vector<std::string>& paths) {
    std::vector<std::string> wanted;
    for (std::string path : paths) {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        wanted.push_back(std::move(path));
    }
    std::vector<bool> matched(wanted.size(), false);
    std::unordered_map<std::string, std::size_t> newest;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const clsRestoreFileData& rec = list[i];
        if (atOrBefore && rec.dSession > *atOrBefore)
            continue;
        bool selected = wanted.empty();
        for (std::size_t w = 0; w < wanted.size(); ++w) {
            if (MatchesPath(rec.fname, wanted[w])) {
                matched[w] = true;
                selected = true;
            }
        }
        if (!selected)
            continue;
        // Later lines of the same session replace earlier ones too.
        const auto [it, fresh] = newest.try_emplace(rec.fname, i);
        if (!fresh && !(rec.dSession < list[it->second].dSession))
            it->second = i;
    }
    std::vector<std::size_t> chosen;
    chosen.reserve(newest.size());
    for (const auto& entry : newest)
        chosen.push_back(entry.second);
    std::sort(chosen.begin(), chosen.end());

    RestoreSelection selection;
    selection.records.reserve(chosen.size());
    for (const std::size_t i : chosen)
        selection.records.push_back(list[i]);
    for (std::size_t w = 0; w < wanted.size(); ++w) {
        if (!matched[w])
            selection.unmatchedPaths.push_back(paths[w]);
    }
    return selection;
}
