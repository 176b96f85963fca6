#pragma once
#include <string>

// The window-free half of start-up, shared by every host.

// Reads "Language", sets gLanguageFile and builds the message catalogue;
// sets gHelpFile and gRunAsService.
void LoadLanguageAndSettings();

// Creates program folder/temp, or empties it (files only, subfolders kept).
bool PrepareTempFolder();

// Fresh job collection, the schedule and style settings, the staging folder
// and the job list. False (with the reason in `error`) when any step fails;
// the job list file is then left untouched.
bool InitSystemVariables(std::string& error);

// Only the job list, for commands that must not touch the staging folder.
bool LoadJobListOnly(std::string& error);

// "Backup" and "General Settings": where every program setting lives.
inline constexpr const char* kAppName = "Backup";
inline constexpr const char* kGeneralSettings = "General Settings";
