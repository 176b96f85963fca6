#pragma once
#include "jobs/Scheduler.h"

#include <QMainWindow>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace Ui {
class frmMain;
}
class DesktopHost;
class QLabel;
class QToolButton;

// The program's permanent window: the job list, the commands, the activity
// list, the status bar and the scheduler's timer. Connects itself to the
// desktop host for the texts the engine shows there.
class frmMain : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int kSchedulerIntervalMs = 1000;

    explicit frmMain(DesktopHost& host, QWidget* parent = nullptr);
    ~frmMain() override;

    // 1: toolbar and status bar; 0: the seven command buttons.
    void SetStyle(std::uint8_t style);

    // The job list rebuilt from gBackups, every next start recomputed.
    void UpdateForm();
    // New texts for the rows the scheduler recomputed.
    void ShowRows(const std::vector<JobRow>& rows);
    // One turn of schedTimer.
    void SchedulerTick();

    // The commands. `fixedEnglish`: the toolbar's backup-now command says
    // "select first" in English whatever the language.
    void BackupNow(bool fixedEnglish);
    void DeleteSelected();
    void NewBackup();
    void EditSelected();
    void RestoreSelected();
    void ToggleLog();
    void OpenLogFile();
    void OpenHelp();
    void SaveJobList();
    void ComesLater();

    // Asks for a protected job's password; true when the right one was confirmed.
    std::function<bool(const std::string& expected)> askPassword;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildToolbar();
    void BuildMenus();
    void ApplyTexts();
    void ShowCaption();
    // Position of the selected row in gBackups, -1 when none is selected.
    int SelectedIndex() const;
    // The selected position, or -1 after saying that a job must be selected.
    int RequireSelection(bool fixedEnglish = false);
    void ShowRow(int index, const JobRow& row);
    void OpenFile(const std::string& path);

    DesktopHost& host_;
    std::unique_ptr<Ui::frmMain> ui_;
    QTimer* schedTimer_ = nullptr;
    QLabel* statusText_ = nullptr;
    QLabel* lastLogLine_ = nullptr;
    QString captionSuffix_;
};
