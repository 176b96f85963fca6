#include "engine/Startup.h"

#include "core/Globals.h"
#include "core/Registry.h"
#include "i18n/Catalogue.h"
#include "jobs/JobListFile.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolder.h"
#include "platform/TextConvert.h"

namespace {

double NumericSetting(const char* name, const char* defaultValue) {
    return LeadingNumber(GetRegSetting(kAppName, kGeneralSettings, name, defaultValue));
}

} // namespace

void LoadLanguageAndSettings() {
    gLanguageFile =
        LanguageFileFor(GetRegSetting(kAppName, kGeneralSettings, "Language", "english"));
    LoadMessageCatalogue(gLanguageFile);
    gHelpFile = JoinPath(HelpFolder(), "index.html");
    gRunAsService = static_cast<std::int32_t>(NumericSetting("RunAsService", "0"));
}

bool PrepareTempFolder() {
    const std::string temp = TempFolder();
    if (!FolderExists(temp))
        return CreateFolderPath(temp);
    bool ok = true;
    for (const std::string& name : ListFileNames(temp))
        ok = RemoveFile(JoinPath(temp, name)) && ok;
    return ok;
}

bool InitSystemVariables(std::string& error) {
    gBackups.clear();
    gIniFile = JoinPath(ProgramFolder(), "backups.ini");
    gStyle = static_cast<std::uint8_t>(NumericSetting("style", "1"));
    gBlockSchedule = NumericSetting("blockSchedule", "1") == 1;
    gBlockScheduleCPU = static_cast<std::int16_t>(NumericSetting("blockScheduleCPU", "1"));
    if (!PrepareTempFolder()) {
        error = "the staging folder " + TempFolder() + " cannot be created or emptied";
        return false;
    }
    return LoadBackups(error);
}

bool LoadJobListOnly(std::string& error) {
    gBackups.clear();
    gIniFile = JoinPath(ProgramFolder(), "backups.ini");
    return LoadBackups(error);
}
