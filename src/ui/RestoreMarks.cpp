#include "ui/RestoreMarks.h"

#include <algorithm>

RestoreMarks::RestoreMarks(const RestoreTree& tree)
    : tree_(tree), state_(tree.Nodes().size(), Unchecked), row_(tree.Nodes().size(), 0) {
    NumberRows();
}

void RestoreMarks::Set(std::int32_t node, bool checked) {
    MarkDown(node, checked ? Checked : Unchecked);
    for (std::int32_t up = tree_.Node(node).parent; up >= 0; up = tree_.Node(up).parent)
        Recount(up);
}

void RestoreMarks::MarkDown(std::int32_t node, State state) {
    // An explicit stack: folder depth is the user's, not ours to bound.
    std::vector<std::int32_t> stack{node};
    std::vector<std::int32_t> folders;
    while (!stack.empty()) {
        const std::int32_t at = stack.back();
        stack.pop_back();
        state_[at] = state;
        if (Filtering() && !tree_.Node(at).IsFile())
            folders.push_back(at);
        for (const std::int32_t child : tree_.Node(at).children)
            if (Shown(child))
                stack.push_back(child);
    }
    // Hidden entries keep their marks, so a folder may be partly checked:
    // counted from the deepest up, each folder after everything below it.
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        Recount(*it);
}

void RestoreMarks::Recount(std::int32_t node) {
    const std::vector<std::int32_t>& children = tree_.Node(node).children;
    bool any = false;
    bool all = !children.empty();
    for (const std::int32_t child : children) {
        any = any || state_[child] != Unchecked;
        all = all && state_[child] == Checked;
    }
    state_[node] = all ? Checked : any ? Partial : Unchecked;
}

std::vector<std::int64_t> RestoreMarks::CheckedRecords() const {
    std::vector<std::int64_t> records;
    std::vector<std::int32_t> stack(tree_.Roots().rbegin(), tree_.Roots().rend());
    while (!stack.empty()) {
        const RestoreTreeNode& node = tree_.Node(stack.back());
        const bool unchecked = state_[stack.back()] == Unchecked;
        stack.pop_back();
        if (unchecked)
            continue;
        if (node.IsFile())
            records.push_back(node.record);
        stack.insert(stack.end(), node.children.rbegin(), node.children.rend());
    }
    return records;
}

void RestoreMarks::SetFilter(const QString& text) {
    filter_ = text.trimmed().toCaseFolded();
    const std::vector<RestoreTreeNode>& nodes = tree_.Nodes();
    if (Filtering()) {
        if (folded_.empty()) {
            folded_.reserve(nodes.size());
            for (const RestoreTreeNode& node : nodes)
                folded_.push_back(QString::fromStdString(node.name).toCaseFolded());
        }
        // Children come after their parents: a matching folder's contents
        // are found in one forward pass, the folders above a match in one backward pass.
        // A session's name is its stamp: digits typed to find a file must
        // not match every session.
        std::vector<std::uint8_t> match(nodes.size(), 0);
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            const std::int32_t parent = nodes[i].parent;
            match[i] = parent >= 0 && (match[parent] || folded_[i].contains(filter_));
        }
        shown_ = std::move(match);
        for (std::size_t i = nodes.size(); i-- > 0;)
            if (shown_[i] != 0 && nodes[i].parent >= 0)
                shown_[nodes[i].parent] = 1;
    }
    NumberRows();
}

const std::vector<std::int32_t>& RestoreMarks::Children(std::int32_t parent) const {
    if (Filtering())
        return shownChildren_[parent + 1];
    return parent < 0 ? tree_.Roots() : tree_.Node(parent).children;
}

void RestoreMarks::NumberRows() {
    shownChildren_.clear();
    shownCount_ = Filtering()
                      ? static_cast<std::size_t>(std::count(shown_.begin(), shown_.end(), 1))
                      : tree_.Nodes().size();
    if (Filtering()) {
        shownChildren_.resize(tree_.Nodes().size() + 1);
        auto fill = [this](std::int32_t parent, const std::vector<std::int32_t>& all) {
            for (const std::int32_t child : all)
                if (shown_[child] != 0) {
                    row_[child] = static_cast<int>(shownChildren_[parent + 1].size());
                    shownChildren_[parent + 1].push_back(child);
                }
        };
        fill(-1, tree_.Roots());
        for (std::size_t i = 0; i < tree_.Nodes().size(); ++i)
            if (shown_[i] != 0)
                fill(static_cast<std::int32_t>(i), tree_.Nodes()[i].children);
        return;
    }
    for (std::size_t i = 0; i < tree_.Roots().size(); ++i)
        row_[tree_.Roots()[i]] = static_cast<int>(i);
    for (const RestoreTreeNode& node : tree_.Nodes())
        for (std::size_t i = 0; i < node.children.size(); ++i)
            row_[node.children[i]] = static_cast<int>(i);
}
