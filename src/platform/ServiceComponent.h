#pragma once
#include <functional>
#include <string>

// The program as a background service: a systemd user unit that starts the
// desktop program with the user's graphical session. Every systemctl call is
// `systemctl --user ...`, found on PATH.

inline constexpr const char* kServiceName = "Tidevault";
inline constexpr const char* kServiceDisplayName = "Tidevault service";
inline constexpr const char* kServiceUnitName = "Tidevault.service";

// What went wrong, for the system event log: errno for file failures, the
// exit status of systemctl (or -1 when it could not be run or timed out).
struct ServiceError {
    int number = 0;
    std::string description;
};

// $XDG_CONFIG_HOME/systemd/user (when absolute), else $HOME/.config/systemd/user;
// empty when neither can be found.
std::string ServiceUnitFolder();
std::string ServiceUnitPath();

// The unit that starts `programFolder`/tidevault with TIDEVAULT_HOME set to
// `programFolder`. False when the folder cannot be written into a unit (a
// control character in its name).
bool ServiceUnitText(const std::string& programFolder, std::string& text);

// Writes the unit, reloads the user manager and enables the unit.
bool InstallServiceUnit(const std::string& programFolder, ServiceError& error);
// Disables the unit, removes its file and reloads the user manager. A unit
// file that is already gone is no failure.
bool UninstallServiceUnit(ServiceError& error);
// True when systemd reports the unit active.
bool IsServiceUnitActive();
// Asks the user manager to stop the unit without waiting for it: the unit may
// be this very process, which could not answer its stop while it waits here.
bool StopServiceUnit(ServiceError& error);

// True when this process was started by systemd.
bool StartedBySystemd();
// Sends READY=1 to $NOTIFY_SOCKET (a path or, with a leading "@", an
// abstract name). False when there is no socket or the send fails.
bool NotifyServiceReady();

// The system event log (syslog). Tests may catch the entries instead.
void WriteSystemEventLog(const std::string& text);
void SetSystemEventLogSink(std::function<void(const std::string&)> sink);

// A descriptor that becomes readable when SIGTERM arrives (systemd's stop),
// so the event loop can log the stop, save and end cleanly instead of being
// killed halfway through a write. Set up on the first call; -1 when it
// cannot be.
int TerminationRequestFd();
