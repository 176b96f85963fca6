#include "core/RunControl.h"

#include "core/Globals.h"
#include "core/host.h"

void RequestPause() {
    if (gBackupRunning)
        gPaused = true;
}

void RequestResume() {
    gPaused = false;
}

void RequestSkip() {
    if (gBackupRunning)
        gSkipRequest = true;
}

void RequestCancel() {
    if (gBackupRunning)
        gAbort = true;
}

bool IsRunActive() {
    return gBackupRunning;
}

bool IsRunPaused() {
    return gBackupRunning && gPaused;
}

namespace {

void ClearRequests() {
    gSkipRequest = false;
    gAbort = false;
    gPaused = false;
}

} // namespace

RunFlagsHeld::RunFlagsHeld() {
    CurrentHost().SetSchedulerTimer(false);
    ClearRequests();
    gBackupRunning = true;
}

RunFlagsHeld::~RunFlagsHeld() {
    ClearRequests();
    gBackupRunning = false;
    CurrentHost().SetSchedulerTimer(true);
}
