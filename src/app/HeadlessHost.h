#pragma once
#include "core/host.h"

#include <chrono>
#include <csignal>

// The host of tidevault-cli: no windows. Activity lines go to stdout, the
// progress line to stderr when it is a terminal, questions are logged and
// answered Yes/OK/Abort. SIGINT and SIGTERM act as the progress window's
// cancel with the main window hidden, and stop any other wait as well.
class HeadlessHost final : public Host {
public:
    HeadlessHost();
    ~HeadlessHost() override;

    void InstallSignalHandlers();
    // True once SIGINT or SIGTERM arrived.
    static bool StopRequested();

    void Yield() override;
    MsgAnswer MessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon) override;
    bool IsMainWindowVisible() override { return false; }
    void SetStatusText(const std::string& text) override;
    void SetLastLogLine(const std::string&) override {}
    void AddActivityLine(const std::string& line) override;
    void ShowProgress(const std::string& caption) override;
    void UpdateProgress(const std::string& caption, const std::string& text, double firstValue,
                        double secondValue) override;
    void CloseProgress() override;
    void SetCaptionSuffix(const std::string&) override {}
    void SetTrayTip(const std::string&) override {}
    std::string PickFolder(const std::string&) override { return pickedFolder_; }
    // The daemon ticks only while the timer is on.
    void SetSchedulerTimer(bool enabled) override { timerEnabled_ = enabled; }

    void SetPickedFolder(const std::string& folder) { pickedFolder_ = folder; }
    bool SchedulerTimerEnabled() const { return timerEnabled_; }

private:
    void DrawProgressLine(const std::string& text);
    void ClearProgressLine();

    bool progressOnTerminal_ = false;
    bool progressShown_ = false;
    std::string pickedFolder_;
    bool timerEnabled_ = true;
    std::chrono::steady_clock::time_point lastDraw_{};
};
