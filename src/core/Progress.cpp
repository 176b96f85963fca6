#include "core/Progress.h"

#include "core/Globals.h"
#include "core/host.h"
#include "i18n/Catalogue.h"

#include <chrono>
#include <thread>

void ShowProgress(const std::string& caption) {
    CurrentHost().ShowProgress(caption);
}

void UpdateProgress(const std::string& caption, const std::string& text, double firstValue,
                    double secondValue) {
    CurrentHost().UpdateProgress(caption, text, firstValue, secondValue);
}

void CloseProgress() {
    CurrentHost().CloseProgress();
}

void PauseRun() {
    Host& host = CurrentHost();
    const std::string paused = GetMsg("strMsgPaused");
    host.SetCaptionSuffix("-" + paused);
    host.SetTrayTip(paused);
    while (gPaused && !gAbort && gBackupRunning) {
        host.Yield();
        // Nothing to do but wait for the user's click; do not spin a core.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    host.SetCaptionSuffix("");
}

void YieldAndHonourPause() {
    CurrentHost().Yield();
    if (gPaused)
        PauseRun();
}
