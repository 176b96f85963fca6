#include "core/Globals.h"

#include "platform/FileSystem.h"
#include "platform/ProgramFolder.h"

std::string gIniFile;
std::string gLanguageFile;
std::string gHelpFile;
std::int32_t gRunAsService = 0;
std::uint8_t gStyle = 1;
bool gBlockSchedule = true;
std::int16_t gBlockScheduleCPU = 1;
bool gJobsDirty = false;

volatile bool gBackupRunning = false;
volatile bool gAbort = false;
volatile bool gPaused = false;
volatile bool gSkipRequest = false;
volatile bool gQuitting = false;
volatile bool gRestoreHoldsStaging = false;

RestoreStagingClaim::RestoreStagingClaim() : previous_(gRestoreHoldsStaging) {
    gRestoreHoldsStaging = true;
}
RestoreStagingClaim::~RestoreStagingClaim() {
    gRestoreHoldsStaging = previous_;
}

std::string TempFolder() {
    return JoinPath(ProgramFolder(), "temp");
}
std::string LogsFolder() {
    return JoinPath(ProgramFolder(), "logs");
}
std::string LanguagesFolder() {
    return JoinPath(ProgramFolder(), "Languages");
}
std::string HelpFolder() {
    return JoinPath(ProgramFolder(), "help");
}
std::string BinFolder() {
    return JoinPath(ProgramFolder(), "bin");
}
