#pragma once
#include "core/host.h"
#include "ui/frmBackupProgress.h"

#include <QPointer>

#include <functional>
#include <string>

class QWidget;

// Registers the windows' icons, kept in this static library; safe to call twice.
void InitUiResources();

// The engine's host in the desktop program: message boxes, the folder picker
// and the progress window are Qt's; what belongs to the main window and the
// tray goes to the callbacks they connect.
class DesktopHost final : public Host {
public:
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

private:
    QPointer<frmBackupProgress> progress_;
};
