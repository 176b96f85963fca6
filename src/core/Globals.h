#pragma once
#include <cstdint>
#include <string>

// Program-wide state, alive for the whole process. The run flags are the only
// coordination between a long operation and the user's clicks.
extern std::string gIniFile;
extern std::string gLanguageFile;
extern std::string gHelpFile;
extern std::int32_t gRunAsService;
extern std::uint8_t gStyle;
extern bool gBlockSchedule;
extern std::int16_t gBlockScheduleCPU;
extern bool gJobsDirty;

extern volatile bool gBackupRunning;
extern volatile bool gAbort;
extern volatile bool gPaused;
extern volatile bool gSkipRequest;
extern volatile bool gQuitting;

// Runs and restores share the staging folder, so never at the same time: a
// restore holds it from preparing it until its window closes or RestoreFiles
// returns, and no run starts meanwhile.
extern volatile bool gRestoreHoldsStaging;

// Holds the staging folder for a restore for the claim's lifetime. Claims nest
// (the restore window's claim covers RestoreFiles' own).
class RestoreStagingClaim {
public:
    RestoreStagingClaim();
    ~RestoreStagingClaim();
    RestoreStagingClaim(const RestoreStagingClaim&) = delete;
    RestoreStagingClaim& operator=(const RestoreStagingClaim&) = delete;

private:
    bool previous_;
};

// Folders and files below the program folder.
std::string TempFolder();
std::string LogsFolder();
std::string LanguagesFolder();
std::string HelpFolder();
std::string BinFolder();
