#include "engine/ServiceMode.h"

#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "core/Registry.h"
#include "core/host.h"
#include "engine/Startup.h"
#include "i18n/Catalogue.h"
#include "platform/ProgramFolder.h"
#include "platform/ServiceComponent.h"

namespace {

// systemd starts a unit's process once, so its start event comes once, even
// when both "/service start" and gRunAsService ask for the hand-over.
bool gServiceStartRaised = false;

void EventLog(const char* operation, const ServiceError& error) {
    WriteSystemEventLog(std::string(operation) + "->[" + std::to_string(error.number) + "]" +
                        error.description);
}

void ShowResult(const char* key, MsgIcon icon) {
    CurrentHost().MessageBox(GetMsg(key, "%s", kServiceDisplayName), MsgButtons::Ok, icon);
}

bool InstallAndShow() {
    const bool installed = InstallService();
    ShowResult(installed ? "strMsgSuccInstall" : "strMsgFailInstall",
               installed ? MsgIcon::Information : MsgIcon::Critical);
    return installed;
}

bool UninstallAndShow() {
    const bool removed = UninstallService();
    ShowResult(removed ? "strMsgSuccUninst" : "strMsgFailUninst",
               removed ? MsgIcon::Information : MsgIcon::Critical);
    return removed;
}

} // namespace

std::string CommandLineText(int argc, const char* const* argv) {
    std::string text;
    for (int i = 1; i < argc; ++i)
        text += (i > 1 ? " " : "") + std::string(argv[i]);
    return text;
}

bool InstallService() {
    ServiceError error;
    if (InstallServiceUnit(ProgramFolder(), error))
        return true;
    EventLog("Installservice", error);
    return false;
}

bool UninstallService() {
    ServiceError error;
    const bool removed =
        (!IsServiceUnitActive() || StopServiceUnit(error)) && UninstallServiceUnit(error);
    EventLog("Uninstallservice", removed ? ServiceError{} : error);
    return removed;
}

void StartServiceOperation() {
    if (!StartedBySystemd() || gServiceStartRaised)
        return;
    gServiceStartRaised = true;
    WriteLog(GetMsg("strMsgServiceStarted"));
    NotifyServiceReady();
}

void StopServiceOperation() {
    ServiceError ignored; // the Part relies on no result here
    StopServiceUnit(ignored);
}

void ServiceStopped() {
    WriteLog(GetMsg("strMsgServiceStopped"));
}

AfterSwitches HandleServiceSwitches(const std::string& commandLine) {
    if (commandLine == "/i") {
        const bool installed = InstallAndShow();
        SaveRegSetting(kAppName, kGeneralSettings, "RunAsService", installed ? "1" : "0");
        gRunAsService = installed ? 1 : 0;
        return AfterSwitches::Quit;
    }
    if (commandLine == "/u") {
        gRunAsService = UninstallAndShow() ? 0 : 1;
        return AfterSwitches::Quit;
    }
    if (commandLine == "/service stop" || commandLine == "/service restart")
        StopServiceOperation();
    if (commandLine != "/service stop")
        StartServiceOperation();
    return AfterSwitches::GoOn;
}

void StartServiceIfWanted() {
    if (gRunAsService == 1)
        StartServiceOperation();
}

bool ChangeServiceMode(bool wanted) {
    return wanted ? InstallAndShow() : !UninstallAndShow();
}
