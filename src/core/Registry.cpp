#include "core/Registry.h"

#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/ProgramFolder.h"
#include "platform/TextUtil.h"

namespace {

std::string SectionName(const std::string& application, const std::string& section) {
    return application + "\\" + section;
}

// Values with blanks at either end (or quotes) are quoted so they read back whole.
std::string Quoted(const std::string& text) {
    if (text != TrimBlanks(text) || (!text.empty() && (text.front() == '"' || text.back() == '"')))
        return "\"" + text + "\"";
    return text;
}

} // namespace

std::string SettingsFilePath() {
    return JoinPath(ProgramFolder(), "settings.ini");
}

std::string GetRegSetting(const std::string& application, const std::string& section,
                          const std::string& valueName, const std::string& defaultValue) {
    IniFile ini;
    ini.Load(SettingsFilePath());
    const std::string value = ini.ReadString(SectionName(application, section), valueName);
    return value.empty() ? defaultValue : value;
}

bool SaveRegSetting(const std::string& application, const std::string& section,
                    const std::string& valueName, const std::string& text) {
    IniFile ini;
    if (!ini.Load(SettingsFilePath()))
        return false;
    const std::string name = SectionName(application, section);
    if (!TrimBlanks(text).empty())
        ini.WriteString(name, valueName, Quoted(text));
    else if (!ini.DeleteKey(name, valueName))
        return false;
    // Settings may one day hold secrets: private to the user.
    return ini.Save(SettingsFilePath(), 0600, "\n");
}
