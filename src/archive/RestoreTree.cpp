#include "archive/RestoreTree.h"

#include <algorithm>

RestoreTree::RestoreTree(const std::vector<clsRestoreFileData>& records) {
    // The files of one folder follow each other in an index: the folder found
    // for the previous record is tried before the path is walked again.
    std::string lastFolderKey;
    std::int32_t lastFolder = -1;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const clsRestoreFileData& rec = records[i];
        const std::string& path = rec.fname;
        const std::size_t slash = path.rfind('/');
        const std::string leafName = slash == std::string::npos ? path : path.substr(slash + 1);
        if (leafName.empty())
            continue; // names no file; a restore refuses it too
        const std::string stamp = rec.dSession.Format("yyyyMMddHHmmss");
        const std::string base = "SES_" + stamp;
        const std::size_t folderEnd = slash == std::string::npos ? 0 : slash;
        std::string folderKey = base + path.substr(0, folderEnd);
        if (lastFolder < 0 || folderKey != lastFolderKey) {
            std::int32_t node = Child(-1, "ses_" + stamp, stamp);
            // Empty components (the leading one above all) are no nodes.
            for (std::size_t pos = 0; pos < folderEnd;) {
                const std::size_t next = std::min(path.find('/', pos), folderEnd);
                if (next > pos)
                    node = Child(node, base + path.substr(0, next), path.substr(pos, next - pos));
                pos = next + 1;
            }
            lastFolder = node;
            lastFolderKey = std::move(folderKey);
        }
        const std::int32_t leaf = Child(lastFolder, base + path, leafName);
        nodes_[leaf].record = static_cast<std::int64_t>(i);
    }
}

std::int32_t RestoreTree::Child(std::int32_t parent, std::string key, std::string name) {
    const auto [it, fresh] =
        byKey_.try_emplace(std::move(key), static_cast<std::int32_t>(nodes_.size()));
    if (!fresh)
        return it->second;
    RestoreTreeNode node;
    node.key = it->first;
    node.name = std::move(name);
    node.parent = parent;
    nodes_.push_back(std::move(node));
    const std::int32_t index = it->second;
    (parent < 0 ? roots_ : nodes_[parent].children).push_back(index);
    return index;
}

const RestoreTreeNode* RestoreTree::Find(const std::string& key) const {
    const auto it = byKey_.find(key);
    return it == byKey_.end() ? nullptr : &nodes_[it->second];
}
