#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/ArchiveIndex.h"

// The restore browser's tree of a job's index: one root per session, the
// folders of its files below it and the files themselves as leaves.

struct RestoreTreeNode {
    // A session: "ses_" and its stamp ("ses_20240301221500"). Below it the
    // upper-cased session key followed by the path so far
    // ("SES_20240301221500/home/ann"). Names keep their letter case, so
    // "Docs" and "docs" are two nodes.
    std::string key;
    std::string name;                   // the path component; for a session its stamp
    std::int32_t parent = -1;           // -1 for a session
    std::vector<std::int32_t> children; // in the order the index first names them
    std::int64_t record = -1;           // a file's index into the records; -1 otherwise

    bool IsFile() const { return record >= 0; }
};

class RestoreTree {
public:
    RestoreTree() = default;
    // Built in one pass; a name stored twice in one session keeps its later
    // line, as a restore would.
    explicit RestoreTree(const std::vector<clsRestoreFileData>& records);

    const std::vector<RestoreTreeNode>& Nodes() const { return nodes_; }
    const std::vector<std::int32_t>& Roots() const { return roots_; }
    const RestoreTreeNode& Node(std::int32_t index) const { return nodes_[index]; }
    // The node with exactly this key, or nullptr.
    const RestoreTreeNode* Find(const std::string& key) const;

private:
    std::int32_t Child(std::int32_t parent, std::string key, std::string name);

    std::vector<RestoreTreeNode> nodes_;
    std::vector<std::int32_t> roots_;
    std::unordered_map<std::string, std::int32_t> byKey_;
};
