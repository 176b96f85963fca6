#pragma once
#include "archive/RestoreTree.h"
#include "jobs/clsBackup.h"
#include "ui/RestoreMarks.h"

#include <QDialog>

#include <cstdint>
#include <memory>
#include <vector>

class DestinationFiles;
class QLabel;
class QModelIndex;
class QStatusBar;
class QToolBar;
class RestoreListModel;
class RestoreTreeModel;
struct RestoreTarget;

namespace Ui {
class frmBrowseRestoreList;
}

// The window in which the user picks stored files to restore: the job's
// sessions, folders and files as a tree, the entries of one folder as a list,
// both with check marks. An FTP job's index and volumes come over the
// window's own connection, which ends with the window.
class frmBrowseRestoreList : public QDialog {
    Q_OBJECT

public:
    explicit frmBrowseRestoreList(std::shared_ptr<clsBackup> job, QWidget* parent = nullptr);
    ~frmBrowseRestoreList() override;

    // The main window's restore command for an archived job: the index
    // loaded, then the window shown modally.
    static void Open(const std::shared_ptr<clsBackup>& job, QWidget* parent);

    // Fetches and reads the job's index and fills the tree; false, with the
    // user told why, when there is nothing to browse.
    bool LoadList();
    // The toolbar's restore command: every checked file, through the engine.
    void RestoreChecked();
    // The list's display mode: 0 large icons, 1 small icons, 2 list, 3 details.
    void SetDisplayMode(int mode);
    int DisplayMode() const { return displayMode_; }
    void ShowNode(std::int32_t node);
    std::int32_t ShownNode() const;

    static constexpr int kDisplayModes = 4;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildToolbar();
    void ApplyTexts();
    void OpenListItem(const QModelIndex& index);
    void ShowParent();
    void SortBy(int column);
    void Filter(const QString& text);
    void UpdateStatus();
    bool LeaveOutExisting(std::vector<clsRestoreFileData>& records, const RestoreTarget& target);
    void SavePlace() const;
    void RestorePlace();

    std::unique_ptr<Ui::frmBrowseRestoreList> ui_;
    std::shared_ptr<clsBackup> job_;
    std::unique_ptr<DestinationFiles> destination_;
    std::unique_ptr<RestoreTree> tree_;
    std::unique_ptr<RestoreMarks> marks_;
    RestoreTreeModel* treeModel_ = nullptr;
    RestoreListModel* listModel_ = nullptr;
    QToolBar* tbToolbar_ = nullptr;
    QStatusBar* sbStatusBar_ = nullptr;
    QLabel* statusText_ = nullptr;
    int displayMode_ = 3;
};
