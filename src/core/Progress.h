#pragma once
#include <string>

// Long work reports progress here and polls the run flags at its polling
// points; the host decides what the user sees.
void ShowProgress(const std::string& caption = std::string());
// Values are percentages 0-100; callers that only show a text pass 0 and 0.
void UpdateProgress(const std::string& caption, const std::string& text, double firstValue,
                    double secondValue);
void CloseProgress();

// Holds the caller while the run is paused; returns when the pause ends, the
// run is aborted or no run is in progress any more.
void PauseRun();

// A polling point: let the user's clicks through, then honour a pause.
void YieldAndHonourPause();
