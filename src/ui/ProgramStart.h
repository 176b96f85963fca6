#pragma once
#include "platform/InstanceLock.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class DesktopHost;
class QLocalServer;
class QSocketNotifier;
class frmMain;
class frmSplash;

// Before the QApplication exists: a process systemd started falls back to
// the offscreen platform when no display can be reached, instead of failing
// to start and being restarted again and again.
void ChooseDisplayPlatform();

// The local socket through which a second start on the same program folder
// asks the running program to show its main window: one per folder and user.
QString ShowRequestServerName(const std::string& programFolder);

// A second start's request to the program running on the folder behind
// `serverName`: its answer "shown\n", or "no display\n" from a service on the
// offscreen platform; empty when no program could be reached.
QByteArray AskRunningProgramToShow(const QString& serverName);

// The desktop program from its start to its end, one step after another.
class ProgramStart : public QObject {
    Q_OBJECT

public:
    // How long a second start looks for the running program's socket: the
    // first may have taken the folder and not be listening yet.
    static constexpr int kShowRequestWaitMs = 1000;

    ProgramStart(DesktopHost& host, std::string commandLine);
    ~ProgramStart() override;

    // Language and settings, Qt's own texts, the program folder taken, the
    // system variables and the start log lines. The exit status when the
    // program must end here: a second start has asked the running program to
    // show its window (0), or start-up failed and said why.
    std::optional<int> Prepare();
    // SIGTERM (systemd's stop, a session ending) logs the service's stop
    // when it is one and ends the program through its quit sequence.
    void EndOnTermination();
    // The splash for its second, then ShowMainWindow; a service without a
    // display gets its main window at once and never shows it.
    void Start();
    // The main window in `style` and its load duties: the command-line
    // switches, the hidden start, the hand-over to the service manager.
    void ShowMainWindow(std::uint8_t style);
    // After the event loop: the quit sequence, if nothing ran it yet.
    void Finish();

    frmMain* Window() const { return window_.get(); }
    // A service on the offscreen platform: nobody could see a window.
    static bool Headless();

private:
    void Listen();
    void ShowRequested();
    void Terminate();

    DesktopHost& host_;
    const std::string commandLine_;
    InstanceLock lock_;
    QLocalServer* server_ = nullptr;
    QSocketNotifier* termination_ = nullptr;
    std::unique_ptr<frmSplash> splash_;
    std::unique_ptr<frmMain> window_;
    bool showRequested_ = false;
    bool terminating_ = false;
    bool ended_ = false;
};

// The whole desktop program; the executable's main calls only this.
int RunDesktopProgram(int argc, char* argv[]);
