#pragma once
#include <string>

// Everything the engine needs from a user interface passes through this seam.
// The desktop program, tidevault-cli and the tests each supply their own host,
// so the engine never knows whether a window exists.

enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel, AbortRetryIgnore, RetryCancel };
enum class MsgIcon { None, Critical, Question, Exclamation, Information };
enum class MsgAnswer { Ok, Cancel, Yes, No, Abort, Retry, Ignore };

class Host {
public:
    virtual ~Host() = default;

    // Let pending window messages run (timer ticks, button clicks).
    virtual void Yield() = 0;
    virtual MsgAnswer MessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon) = 0;
    virtual bool IsMainWindowVisible() = 0;

    // Status bar panel 1 (transient texts) and panel 2 (last logged line).
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void SetLastLogLine(const std::string& text) = 0;
    // One entry of the activity list, already time-stamped.
    virtual void AddActivityLine(const std::string& line) = 0;

    virtual void ShowProgress(const std::string& caption) = 0;
    virtual void UpdateProgress(const std::string& caption, const std::string& text,
                                double firstValue, double secondValue) = 0;
    virtual void CloseProgress() = 0;

    virtual void SetCaptionSuffix(const std::string& suffix) = 0;
    virtual void SetTrayTip(const std::string& tip) = 0;

    // Empty result: the user cancelled.
    virtual std::string PickFolder(const std::string& prompt) = 0;
    virtual void SetSchedulerTimer(bool enabled) = 0;
};

// What a host without a user answers: Yes to questions, Abort to
// Abort/Retry/Ignore, Cancel to Retry/Cancel, OK otherwise.
MsgAnswer DefaultAnswer(MsgButtons buttons);

// The host in use. Without one installed, a silent host answers Yes/OK.
Host& CurrentHost();
void SetHost(Host* host);
