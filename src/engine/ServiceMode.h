#pragma once
#include <string>

// Service mode without a window: the start-up switches, installing and
// removing the service, and the service's start and stop events. The desktop
// program's main window and settings window call these.

// The text the switches are compared with: the arguments after the program
// name joined with one blank (no arguments: the empty text).
std::string CommandLineText(int argc, const char* const* argv);

// Installs the service for this program folder. A failure goes to the
// system event log as "Installservice->[number]description".
bool InstallService();
// Stops the service when it runs, then removes it; always logs
// "Uninstallservice->[number]description" to the system event log.
bool UninstallService();

// Hands the program to the service manager: only a process that systemd
// started gets the start event (its activity-log line, once) and tells
// systemd it is ready. Elsewhere nothing happens.
void StartServiceOperation();
void StopServiceOperation();
// The stop event: its activity-log line.
void ServiceStopped();

// What the main window does after the switches.
enum class AfterSwitches { GoOn, Quit };
// "/i", "/u", "/service start|stop|restart" and anything else, compared
// case-sensitively with the whole text. "/i" and "/u" show their result and
// ask for the quit sequence; "/i" also stores "RunAsService".
AfterSwitches HandleServiceSwitches(const std::string& commandLine);
// At the end of loading: the hand-over when gRunAsService is 1.
void StartServiceIfWanted();

// The settings window's service box changed to `wanted`: installs or removes
// the service and shows the result. Returns the box's state afterwards (the
// wish when it succeeded, the old state when not).
bool ChangeServiceMode(bool wanted);
