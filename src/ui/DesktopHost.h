#pragma once
#include "core/host.h"
#include "ui/frmBackupProgress.h"

#include <QPointer>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

class QWidget;

// Registers the windows' icons, kept in this static library; safe to call twice.
void InitUiResources();

// The engine's host in the desktop program: message boxes, the folder picker
// and the progress window are Qt's; what belongs to the main window and the
// tray goes to the callbacks they connect.
class DesktopHost final : public Host {
public:
    // The engine yields per file and per block, thousands of times a second;
    // the event loop runs at most this often, still far quicker than a click
    // is noticed to lag.
    static constexpr int kYieldIntervalMs = 20;
    // A run logs a line per file: while its progress window is open, the
    // activity lines and the last log line reach the main window in batches
    // at most this often (more often nobody can read a scrolling list).
    static constexpr int kTextIntervalMs = 200;
    // The activity list shows no more than the newest this many lines, so a
    // batch never carries older ones.
    static constexpr std::size_t kActivityBatchLimit = 1000;

    DesktopHost();
    ~DesktopHost() override;
    DesktopHost(const DesktopHost&) = delete;
    DesktopHost& operator=(const DesktopHost&) = delete;

    // Set by tests to answer every message box instead of the user; no box is
    // shown while it is set.
    std::function<MsgAnswer(const std::string& text, MsgButtons, MsgIcon)> answerer;

    // Parent of the boxes and the progress window.
    QWidget* mainWindow = nullptr;
    // The main window's real state; without it the window counts as hidden.
    std::function<bool()> mainWindowVisible;
    std::function<void(const std::string&)> onStatusText;
    std::function<void(const std::string&)> onLastLogLine;
    std::function<void(const std::string&)> onActivityLine;
    // When set, activity lines held back during a run arrive here together
    // (oldest first) instead of one by one through onActivityLine.
    std::function<void(const std::vector<std::string>&)> onActivityLines;
    std::function<void(const std::string&)> onCaptionSuffix;
    std::function<void(const std::string&)> onTrayTip;
    std::function<void(bool)> onSchedulerTimer;
    // The progress window's second value each time it is painted.
    std::function<void(const std::string& caption, double percent)> onProgressValue;

    // The open progress window, nullptr when there is none.
    frmBackupProgress* ProgressWindow() const { return progress_; }

    void Yield() override;
    MsgAnswer MessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon) override;
    bool IsMainWindowVisible() override;
    void SetStatusText(const std::string& text) override;
    void SetLastLogLine(const std::string& text) override;
    void AddActivityLine(const std::string& line) override;
    void ShowProgress(const std::string& caption) override;
    void UpdateProgress(const std::string& caption, const std::string& text, double firstValue,
                        double secondValue) override;
    void CloseProgress() override;
    void SetCaptionSuffix(const std::string& suffix) override;
    void SetTrayTip(const std::string& tip) override;
    std::string PickFolder(const std::string& prompt) override;
    void SetSchedulerTimer(bool enabled) override;

    // Hands over the activity lines and the last log line held back.
    void ShowPendingTexts();

private:
    static constexpr std::int64_t kLongAgo = INT64_MIN / 2;
    QPointer<frmBackupProgress> progress_;
    // When the event loop last ran and the texts last went out (coarse clock, ms).
    std::int64_t eventsAt_ = kLongAgo;
    std::deque<std::string> pendingLines_;
    std::string pendingLastLine_;
    bool hasPendingLastLine_ = false;
    std::int64_t textsAt_ = kLongAgo;
    QTimer textTimer_;
    // Whether the texts go out now; if not, the timer is set to send them.
    bool TextsDueNow();
};
