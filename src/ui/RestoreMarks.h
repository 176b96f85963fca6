#pragma once
#include "archive/RestoreTree.h"

#include <QString>

#include <cstdint>
#include <vector>

// What the restore browser shows of a job's tree and what is checked in it.
// Plain vectors beside the tree: checking a session of 100,000 files is one
// walk, with no item objects and no signal per entry.
class RestoreMarks {
public:
    enum State : std::uint8_t { Unchecked, Partial, Checked };

    explicit RestoreMarks(const RestoreTree& tree);

    const RestoreTree& Tree() const { return tree_; }
    State Of(std::int32_t node) const { return state_[node]; }
    // Checks or clears a node and every shown entry below it; the folders
    // above it then show whether all, some or none of theirs are checked.
    void Set(std::int32_t node, bool checked);
    // The records of the checked files, in tree order.
    std::vector<std::int64_t> CheckedRecords() const;

    // Narrows what is shown to the entries whose names contain `text`
    // (letter case ignored), the folders leading to them and what lies
    // below a matching folder. Empty text shows everything. Check marks stay.
    void SetFilter(const QString& text);
    bool Filtering() const { return !filter_.isEmpty(); }
    bool Shown(std::int32_t node) const { return filter_.isEmpty() || shown_[node] != 0; }
    std::size_t ShownCount() const { return shownCount_; }
    // The shown children of a node (-1: the sessions) and a node's row among
    // its parent's shown children.
    const std::vector<std::int32_t>& Children(std::int32_t parent) const;
    int Row(std::int32_t node) const { return row_[node]; }

private:
    void MarkDown(std::int32_t node, State state);
    void Recount(std::int32_t node);
    void NumberRows();

    const RestoreTree& tree_;
    std::vector<State> state_;
    QString filter_;
    std::vector<QString> folded_; // names case-folded, made at the first filter
    std::vector<std::uint8_t> shown_;
    std::vector<std::vector<std::int32_t>> shownChildren_; // while filtering; [0] the sessions
    std::vector<int> row_;
    std::size_t shownCount_ = 0;
};
