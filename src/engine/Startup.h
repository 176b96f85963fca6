#pragma once
#include <functional>
#include <string>

class InstanceLock;

// The window-free halves of start-up and quit, shared by the desktop program
// and tidevault-cli.

// "Backup" and "General Settings": where every program setting lives.
inline constexpr const char* kAppName = "Backup";
inline constexpr const char* kGeneralSettings = "General Settings";

// Reads "Language", sets gLanguageFile and builds the message catalogue;
// sets gHelpFile and gRunAsService.
void LoadLanguageAndSettings();

// Takes the program folder for this process: runs and restores share its
// staging folder. False with the catalogue text that says why not.
bool TakeProgramFolder(InstanceLock& lock, std::string& problem);

// Creates program folder/temp, or empties it (files only, subfolders kept).
bool PrepareTempFolder();

// Fresh job collection, the schedule and style settings, the staging folder
// created or emptied, the job list loaded. False (with the reason in
// `error`) when any step fails; the job list file is then left untouched.
bool InitSystemVariables(std::string& error);

// Only the job list, for commands that must not touch the staging folder.
bool LoadJobListOnly(std::string& error);

// "Tidevault started ..." and the number of jobs loaded.
void LogProgramStarted();

// InitSystemVariables, then the start log lines.
bool StartUpWithoutWindow(std::string& error);

// The closing log line, the job list saved, `beforeLastLine` (the desktop
// removes its tray icon there), the closed log line.
void QuitWithoutWindow(const std::function<void()>& beforeLastLine = {});
