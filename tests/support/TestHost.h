#pragma once
#include "core/host.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// Records everything the engine shows; answers message boxes from a script.
class TestHost final : public Host {
public:
    TestHost() { SetHost(this); }
    ~TestHost() override { SetHost(nullptr); }

    std::function<void()> onYield;
    std::deque<MsgAnswer> answers; // taken in order; Yes/OK when empty
    bool mainWindowVisible = false;

    struct Box {
        std::string text;
        MsgButtons buttons;
        MsgIcon icon;
    };
    std::vector<Box> boxes;
    std::vector<std::string> activity, statusTexts, lastLogLines, progress, captionSuffixes;
    std::vector<bool> timerStates;
    std::string folderToPick;
    int yields = 0;

    static bool Holds(const std::vector<std::string>& lines, const std::string& text) {
        return std::ranges::any_of(
            lines, [&](const auto& l) { return l.find(text) != std::string::npos; });
    }
    bool Logged(const std::string& text) const { return Holds(activity, text); }
    bool ShowedProgress(const std::string& text) const { return Holds(progress, text); }

    void Yield() override {
        ++yields;
        if (onYield)
            onYield();
    }
    MsgAnswer MessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon) override {
        boxes.push_back({text, buttons, icon});
        const bool yesNo = buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel;
        if (answers.empty())
            return yesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
        const MsgAnswer a = answers.front();
        return answers.pop_front(), a;
    }
    bool IsMainWindowVisible() override { return mainWindowVisible; }
    void SetStatusText(const std::string& text) override { statusTexts.push_back(text); }
    void SetLastLogLine(const std::string& text) override { lastLogLines.push_back(text); }
    void AddActivityLine(const std::string& line) override { activity.push_back(line); }
    void ShowProgress(const std::string& c) override { progress.push_back("show:" + c); }
    void UpdateProgress(const std::string& c, const std::string& t, double a, double b) override {
        progress.push_back("update:" + c + "|" + t + "|" + std::to_string(a) + "|" +
                           std::to_string(b));
    }
    void CloseProgress() override { progress.push_back("close"); }
    void SetCaptionSuffix(const std::string& s) override { captionSuffixes.push_back(s); }
    void SetTrayTip(const std::string&) override {}
    std::string PickFolder(const std::string&) override { return folderToPick; }
    void SetSchedulerTimer(bool enabled) override { timerStates.push_back(enabled); }
};
