#pragma once
#include <string>

// Program settings, kept in settings.ini in the program folder. The section
// is application + "\" + section, e.g. [Backup\General Settings].

// The value's text; the default when the value is missing or empty.
std::string GetRegSetting(const std::string& application, const std::string& section,
                          const std::string& valueName, const std::string& defaultValue = "");
// Writes the value; a blank text deletes it. True when written or deleted.
bool SaveRegSetting(const std::string& application, const std::string& section,
                    const std::string& valueName, const std::string& text);

std::string SettingsFilePath();
