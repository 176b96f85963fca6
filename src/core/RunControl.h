#pragma once

// What a window may ask of the run in progress. Windows call these instead of
// writing the run flags; the run sees each request at its next polling point.

void RequestPause();
void RequestResume();
// The archive writer stops adding the current file and goes on with the next.
void RequestSkip();
// The run takes its abort exit. It still counts as running until it has
// returned, so no second run starts while it unwinds.
void RequestCancel();

bool IsRunActive();
bool IsRunPaused();

// Held by a run for its whole length: sets the run flags and turns the
// scheduler timer off; every way out, an error included, clears the flags and
// turns the timer back on.
class RunFlagsHeld {
public:
    RunFlagsHeld();
    ~RunFlagsHeld();
    RunFlagsHeld(const RunFlagsHeld&) = delete;
    RunFlagsHeld& operator=(const RunFlagsHeld&) = delete;
};
