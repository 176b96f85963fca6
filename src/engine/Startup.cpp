#include "engine/Startup.h"

#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "core/Registry.h"
#include "i18n/Catalogue.h"
#include "jobs/JobListFile.h"
#include "platform/FileSystem.h"
#include "platform/InstanceLock.h"
#include "platform/ProgramFolder.h"
#include "platform/TextConvert.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr const char* kJobListName = "backups.ini";

double NumericSetting(const char* name, const char* defaultValue) {
    return LeadingNumber(GetRegSetting(kAppName, kGeneralSettings, name, defaultValue));
}

} // namespace

bool PrepareTempFolder() {
    const std::string temp = TempFolder();
    if (!FolderExists(temp))
        return CreateFolderPath(temp);
    bool ok = true;
    for (const std::string& name : ListFileNames(temp))
        ok = RemoveFile(JoinPath(temp, name)) && ok;
    return ok;
}

void LoadLanguageAndSettings() {
    gLanguageFile =
        LanguageFileFor(GetRegSetting(kAppName, kGeneralSettings, "Language", "english"));
    LoadMessageCatalogue(gLanguageFile);
    gHelpFile = JoinPath(HelpFolder(), "index.html");
    gRunAsService = static_cast<std::int32_t>(NumericSetting("RunAsService", "0"));
}

bool TakeProgramFolder(InstanceLock& lock, std::string& problem) {
    const std::string folder = ProgramFolder();
    if (lock.Acquire(folder))
        return true;
    if (lock.Error() == EWOULDBLOCK)
        problem = GetMsg("strMsgProgramFolderBusy", "%d", folder);
    else if (lock.Error() == ENOENT && !FolderExists(folder))
        problem = GetMsg("strMsgProgramFolderMissing", "%d", folder);
    else
        problem = GetMsg("strMsgProgramFolderUnusable",
                         {{"%d", folder}, {"%s", std::strerror(lock.Error())}});
    return false;
}

bool InitSystemVariables(std::string& error) {
    gBackups.clear();
    gIniFile = JoinPath(ProgramFolder(), kJobListName);
    gStyle = static_cast<std::uint8_t>(NumericSetting("style", "1"));
    gBlockSchedule = NumericSetting("blockSchedule", "1") == 1;
    gBlockScheduleCPU = static_cast<std::int16_t>(NumericSetting("blockScheduleCPU", "1"));
    if (!PrepareTempFolder()) {
        error = GetMsg("strMsgCantDeleteFilesFromTemp1") + " (" + TempFolder() + ")";
        return false;
    }
    return LoadBackups(error);
}

bool LoadJobListOnly(std::string& error) {
    gBackups.clear();
    gIniFile = JoinPath(ProgramFolder(), kJobListName);
    return LoadBackups(error);
}

void LogProgramStarted() {
    WriteLog(GetMsg("strMsgProgramStarted"));
    WriteLog(GetMsg("strMsgBackupItemsLoaded", "%d", std::to_string(gBackups.size())));
}

bool StartUpWithoutWindow(std::string& error) {
    if (!InitSystemVariables(error))
        return false;
    LogProgramStarted();
    return true;
}

void QuitWithoutWindow(const std::function<void()>& beforeLastLine) {
    WriteLog(GetMsg("strMsgClosingProgram"));
    SaveBackups();
    if (beforeLastLine)
        beforeLastLine();
    WriteLog(GetMsg("strMsgProgramClosed"));
}
