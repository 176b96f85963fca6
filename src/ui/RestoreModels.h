#pragma once
#include "ui/RestoreMarks.h"

#include <QAbstractItemModel>
#include <QIcon>

#include <cstdint>
#include <vector>

struct clsRestoreFileData;

// Item models over RestoreMarks for the restore browser's tree and list: rows
// are made when a view asks for them, so a large index costs no item objects.
// The key of an entry (RestoreTreeNode::key) is its Qt::UserRole data.

inline constexpr int kNodeRole = Qt::UserRole + 1; // the node's index in the tree

class RestoreTreeModel : public QAbstractItemModel {
    Q_OBJECT

public:
    RestoreTreeModel(RestoreMarks& marks, const std::vector<clsRestoreFileData>& records,
                     QObject* parent = nullptr);

    QModelIndex IndexOf(std::int32_t node) const;
    static std::int32_t NodeOf(const QModelIndex& index);
    // The views repaint once after a change of many marks.
    void MarksChanged();
    void FilterChanged(const QString& text);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    // A check mark was set through this model or the list's.
    void Checked();

protected:
    RestoreMarks& marks_;
    const std::vector<clsRestoreFileData>& records_;
    QIcon sessionIcon_, folderIcon_, fileIcon_, linkIcon_;
};

// The shown children of one tree node, with size, volumes and write time.
class RestoreListModel : public QAbstractItemModel {
    Q_OBJECT

public:
    enum Column { Name, Size, StartVolume, EndVolume, Written, Columns };

    RestoreListModel(RestoreTreeModel& tree, RestoreMarks& marks,
                     const std::vector<clsRestoreFileData>& records, QObject* parent = nullptr);

    void Show(std::int32_t node); // -1: nothing
    std::int32_t Current() const { return current_; }
    std::int32_t NodeAt(int row) const { return rows_[row]; }
    // The column sorted by (-1: the index's order) and the direction.
    int SortColumn() const { return sortColumn_; }
    Qt::SortOrder Order() const { return order_; }
    void MarksChanged();

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex&) const override { return {}; }
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

    // Column captions, set from the language file.
    QStringList captions;

private:
    const clsRestoreFileData* RecordOf(std::int32_t node) const;
    void Sort();

    RestoreTreeModel& tree_;
    RestoreMarks& marks_;
    const std::vector<clsRestoreFileData>& records_;
    std::vector<std::int32_t> rows_;
    std::int32_t current_ = -1;
    int sortColumn_ = -1;
    Qt::SortOrder order_ = Qt::AscendingOrder;
};
