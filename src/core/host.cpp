#include "core/host.h"

namespace {

// Used before any host is installed: says nothing and agrees to everything.
class SilentHost final : public Host {
public:
    void Yield() override {}
    MsgAnswer MessageBox(const std::string&, MsgButtons buttons, MsgIcon) override {
        return DefaultAnswer(buttons);
    }
    bool IsMainWindowVisible() override { return false; }
    void SetStatusText(const std::string&) override {}
    void SetLastLogLine(const std::string&) override {}
    void AddActivityLine(const std::string&) override {}
    void ShowProgress(const std::string&) override {}
    void UpdateProgress(const std::string&, const std::string&, double, double) override {}
    void CloseProgress() override {}
    void SetCaptionSuffix(const std::string&) override {}
    void SetTrayTip(const std::string&) override {}
    std::string PickFolder(const std::string&) override { return std::string(); }
    void SetSchedulerTimer(bool) override {}
};

SilentHost gSilentHost;
Host* gHost = nullptr;

} // namespace

MsgAnswer DefaultAnswer(MsgButtons buttons) {
    switch (buttons) {
    case MsgButtons::YesNo:
    case MsgButtons::YesNoCancel:
        return MsgAnswer::Yes;
    case MsgButtons::AbortRetryIgnore:
        return MsgAnswer::Abort;
    case MsgButtons::RetryCancel:
        return MsgAnswer::Cancel;
    default:
        return MsgAnswer::Ok;
    }
}

Host& CurrentHost() {
    return gHost != nullptr ? *gHost : gSilentHost;
}

void SetHost(Host* host) {
    gHost = host;
}
