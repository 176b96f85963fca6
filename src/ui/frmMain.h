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
class QMenu;
class QToolButton;
class StatusPicture;
class TrayIcon;

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
    // One turn of the tray timer: the paused picture and tip while a run waits.
    void TrayTick();

    // The commands. `fixedEnglish`: the toolbar's backup-now command says
    // "select first" in English whatever the language.
    void BackupNow(bool fixedEnglish);
    void DeleteSelected();
    void NewBackup();
    // The editor on a page (0 sources, 1 settings, 2 destination, 3
    // schedule); -1 keeps the page last chosen.
    void EditSelected(int page = -1);
    void RestoreSelected();
    void ToggleLog();
    void OpenLogFile();
    void OpenHelp();
    void SaveJobList();

    // The close box, "HideWindowOnStart", minimizing: away to the tray icon,
    // or minimized where the desktop has no tray, so it can always be found.
    void HideToTray();
    // The tray's double click and "Restore window", a second start.
    void ShowFromTray();
    // Asks; returns 1 when the user declined. On yes a run going on is
    // cancelled and the program ends once the run has unwound.
    int QuitProgram();
    // The quit sequence without the question (also the service's stop):
    // log, save, tray icon removed, every window closed, the event loop left.
    void EndProgram();

    TrayIcon* Tray() const { return tray_; }

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
    // Runs a job now; afterwards the status picture is cleared, a failed
    // scheduled run nobody watched is announced, and a quit asked for meanwhile ends the program.
    void RunJob(const std::string& name, bool scheduled);
    // Says that a backup is running and returns true while one is.
    bool RefuseWhileRunning();
    void AddActivityLines(const std::vector<std::string>& lines);

    DesktopHost& host_;
    std::unique_ptr<Ui::frmMain> ui_;
    QTimer* schedTimer_ = nullptr;
    QTimer* trayTimer_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    TrayIcon* tray_ = nullptr;
    StatusPicture* statusPicture_ = nullptr;
    int editorPage_ = 0;
    bool quitAfterRun_ = false;
    bool ending_ = false;
    QLabel* statusText_ = nullptr;
    QLabel* lastLogLine_ = nullptr;
    QString captionSuffix_;
};
