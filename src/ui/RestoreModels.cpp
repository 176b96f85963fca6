#include "ui/RestoreModels.h"

#include "archive/ArchiveIndex.h"
#include "i18n/FormatSize.h"
#include "platform/FileTimes.h"

#include <QCursor>
#include <QDateTime>
#include <QGuiApplication>
#include <QLocale>

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// Dates the way the desktop writes them, with seconds: two sessions of one
// minute must not look alike.
QString ShownTime(const QDateTime& when) {
    if (!when.isValid())
        return QString();
    return QLocale().toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           when.time().toString(QStringLiteral("HH:mm:ss"));
}

QString SessionText(const std::string& stamp) {
    const QDateTime when = QDateTime::fromString(Text(stamp), QStringLiteral("yyyyMMddHHmmss"));
    return when.isValid() ? ShownTime(when) : Text(stamp);
}

QDateTime WriteTime(const clsRestoreFileData& rec) {
    if (rec.tLastWriteTimeGet().Value() == 0)
        return QDateTime();
    return QDateTime::fromSecsSinceEpoch(UnixFromFileTime(rec.tLastWriteTimeGet()).tv_sec);
}

Qt::CheckState CheckStateOf(RestoreMarks::State state) {
    return state == RestoreMarks::Checked   ? Qt::Checked
           : state == RestoreMarks::Partial ? Qt::PartiallyChecked
                                            : Qt::Unchecked;
}

QIcon Picture(const char* name) {
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name)));
}

} // namespace

// ---- The tree ----

RestoreTreeModel::RestoreTreeModel(RestoreMarks& marks,
                                   const std::vector<clsRestoreFileData>& records, QObject* parent)
    : QAbstractItemModel(parent), marks_(marks), records_(records),
      sessionIcon_(Picture("session")), folderIcon_(Picture("dir")), fileIcon_(Picture("file")),
      linkIcon_(Picture("link")) {}

QModelIndex RestoreTreeModel::IndexOf(std::int32_t node) const {
    if (node < 0 || !marks_.Shown(node))
        return {};
    return createIndex(marks_.Row(node), 0, static_cast<quintptr>(node));
}

std::int32_t RestoreTreeModel::NodeOf(const QModelIndex& index) {
    return index.isValid() ? index.data(kNodeRole).toInt() : -1;
}

void RestoreTreeModel::MarksChanged() {
    // The sessions stand for everything below them (views that show more
    // repaint themselves: RestoreMarks changes far more than one signal could name).
    const int roots = rowCount();
    if (roots > 0)
        emit dataChanged(index(0, 0), index(roots - 1, 0), {Qt::CheckStateRole});
}

void RestoreTreeModel::FilterChanged(const QString& text) {
    beginResetModel();
    marks_.SetFilter(text);
    endResetModel();
}

QModelIndex RestoreTreeModel::index(int row, int column, const QModelIndex& parent) const {
    const std::vector<std::int32_t>& children =
        marks_.Children(parent.isValid() ? parent.internalId() : -1);
    if (column != 0 || row < 0 || row >= static_cast<int>(children.size()))
        return {};
    return createIndex(row, 0, static_cast<quintptr>(children[row]));
}

QModelIndex RestoreTreeModel::parent(const QModelIndex& child) const {
    if (!child.isValid())
        return {};
    return IndexOf(marks_.Tree().Node(static_cast<std::int32_t>(child.internalId())).parent);
}

int RestoreTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0)
        return 0;
    return static_cast<int>(marks_.Children(parent.isValid() ? parent.internalId() : -1).size());
}

int RestoreTreeModel::columnCount(const QModelIndex&) const {
    return 1;
}

QVariant RestoreTreeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    const auto node = static_cast<std::int32_t>(index.internalId());
    const RestoreTreeNode& entry = marks_.Tree().Node(node);
    switch (role) {
    case Qt::DisplayRole:
        return entry.parent < 0 ? SessionText(entry.name) : Text(entry.name);
    case Qt::DecorationRole:
        if (entry.parent < 0)
            return sessionIcon_;
        if (!entry.IsFile())
            return folderIcon_;
        return IsLinkAttribute(records_[entry.record].Attrib) ? linkIcon_ : fileIcon_;
    case Qt::CheckStateRole:
        return CheckStateOf(marks_.Of(node));
    case Qt::ToolTipRole:
        return entry.IsFile() ? Text(records_[entry.record].fname) : QVariant();
    case Qt::UserRole:
        return Text(entry.key);
    case kNodeRole:
        return node;
    default:
        return {};
    }
}

bool RestoreTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::CheckStateRole)
        return false;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    marks_.Set(static_cast<std::int32_t>(index.internalId()), value.toInt() != Qt::Unchecked);
    MarksChanged();
    emit Checked();
    QGuiApplication::restoreOverrideCursor();
    return true;
}

Qt::ItemFlags RestoreTreeModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

// ---- The list ----

RestoreListModel::RestoreListModel(RestoreTreeModel& tree, RestoreMarks& marks,
                                   const std::vector<clsRestoreFileData>& records, QObject* parent)
    : QAbstractItemModel(parent), tree_(tree), marks_(marks), records_(records) {}

void RestoreListModel::Show(std::int32_t node) {
    beginResetModel();
    current_ = node;
    rows_.clear();
    if (node >= 0 && marks_.Shown(node)) {
        rows_ = marks_.Children(node);
        Sort();
    }
    endResetModel();
}

void RestoreListModel::MarksChanged() {
    if (!rows_.empty())
        emit dataChanged(index(0, 0), index(static_cast<int>(rows_.size()) - 1, 0),
                         {Qt::CheckStateRole});
}

const clsRestoreFileData* RestoreListModel::RecordOf(std::int32_t node) const {
    const RestoreTreeNode& entry = marks_.Tree().Node(node);
    return entry.IsFile() ? &records_[entry.record] : nullptr;
}

QModelIndex RestoreListModel::index(int row, int column, const QModelIndex& parent) const {
    if (parent.isValid() || row < 0 || row >= static_cast<int>(rows_.size()) || column < 0 ||
        column >= Columns)
        return {};
    return createIndex(row, column, static_cast<quintptr>(rows_[row]));
}

int RestoreListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RestoreListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Columns;
}

QVariant RestoreListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    const auto node = static_cast<std::int32_t>(index.internalId());
    const clsRestoreFileData* rec = RecordOf(node);
    if (index.column() != Name) {
        if (role == Qt::TextAlignmentRole && index.column() == Size)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        if (role != Qt::DisplayRole || rec == nullptr)
            return {};
        switch (index.column()) {
        case Size:
            // A link's stored bytes are its target text, not a size to show.
            return IsLinkAttribute(rec->Attrib) ? QVariant() : Text(FormatSize(rec->size));
        case StartVolume:
            return Text(VolumeFileName(rec->arcStart));
        case EndVolume:
            return Text(VolumeFileName(rec->arcEnd));
        default:
            return ShownTime(WriteTime(*rec));
        }
    }
    // The name column speaks for the entry as the tree does.
    return tree_.data(tree_.IndexOf(node), role);
}

bool RestoreListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.column() != Name)
        return false;
    return tree_.setData(tree_.IndexOf(static_cast<std::int32_t>(index.internalId())), value, role);
}

Qt::ItemFlags RestoreListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    return index.column() == Name ? flags | Qt::ItemIsUserCheckable : flags;
}

QVariant RestoreListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section >= captions.size())
        return {};
    return captions[section];
}

void RestoreListModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= Columns)
        return;
    beginResetModel();
    sortColumn_ = column;
    order_ = order;
    Sort();
    endResetModel();
}

void RestoreListModel::Sort() {
    if (sortColumn_ < 0)
        return;
    const RestoreTree& tree = marks_.Tree();
    auto name = [&](std::int32_t node) { return tree.Node(node).name.c_str(); };
    auto less = [&](std::int32_t a, std::int32_t b) {
        const clsRestoreFileData* ra = RecordOf(a);
        const clsRestoreFileData* rb = RecordOf(b);
        // Folders have no size, volumes or time: they sort before files there.
        if (sortColumn_ != Name && (ra == nullptr || rb == nullptr)) {
            if ((ra == nullptr) != (rb == nullptr))
                return ra == nullptr;
        } else if (sortColumn_ == Size && ra->size != rb->size) {
            return ra->size < rb->size;
        } else if (sortColumn_ == StartVolume && ra->arcStart != rb->arcStart) {
            return ra->arcStart < rb->arcStart;
        } else if (sortColumn_ == EndVolume && ra->arcEnd != rb->arcEnd) {
            return ra->arcEnd < rb->arcEnd;
        } else if (sortColumn_ == Written &&
                   ra->tLastWriteTimeGet().Value() != rb->tLastWriteTimeGet().Value()) {
            return ra->tLastWriteTimeGet().Value() < rb->tLastWriteTimeGet().Value();
        }
        const int byName = ::strcasecmp(name(a), name(b));
        return byName != 0 ? byName < 0 : std::strcmp(name(a), name(b)) < 0;
    };
    std::stable_sort(rows_.begin(), rows_.end(), less);
    if (order_ == Qt::DescendingOrder)
        std::reverse(rows_.begin(), rows_.end());
}
