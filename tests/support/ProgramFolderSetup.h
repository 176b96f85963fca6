#pragma once
#include "core/Globals.h"
#include "i18n/Catalogue.h"
#include "jobs/clsBackup.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolder.h"
#include "support/TempHome.h"

#include <string>
#include <unistd.h>

// A temporary program folder ready for runs and restores: English texts, no
// jobs, the run flags clear, temp/, Languages/ and the built bin/bfish in place.
inline void PrepareProgramFolder(const TempHome& home) {
    SetProgramFolder(home.Path());
    LoadMessageCatalogue("");
    gIniFile = home.File("backups.ini");
    gBackups.clear();
    gBackupRunning = false;
    gAbort = false;
    gPaused = false;
    gSkipRequest = false;
    gQuitting = false;
    gRestoreHoldsStaging = false;
    CreateFolderPath(home.File("temp"));
    CreateFolderPath(home.File("bin"));
    ::symlink((std::string(TIDEVAULT_BUILD_DIR) + "/bin/bfish").c_str(),
              home.File("bin/bfish").c_str());
    ::symlink((std::string(TIDEVAULT_SOURCE_DIR) + "/Languages").c_str(),
              home.File("Languages").c_str());
}

inline void ReleaseProgramFolder() {
    gBackups.clear();
    SetClockOverride(std::nullopt);
    SetProgramFolder("");
}
