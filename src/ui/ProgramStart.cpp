#include "ui/ProgramStart.h"

#include "core/Globals.h"
#include "core/Registry.h"
#include "core/RunControl.h"
#include "engine/ServiceMode.h"
#include "engine/Startup.h"
#include "i18n/Catalogue.h"
#include "platform/ProgramFolder.h"
#include "platform/ServiceComponent.h"
#include "platform/TextConvert.h"
#include "ui/DesktopHost.h"
#include "ui/QtTranslations.h"
#include "ui/frmMain.h"
#include "ui/frmSplash.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <iostream>
#include <unistd.h>

namespace {

constexpr char kShowRequest[] = "show\n";
constexpr char kShownAnswer[] = "shown\n";
constexpr char kNoDisplayAnswer[] = "no display\n";
// Nothing we send is longer; a peer that keeps talking is not ours.
constexpr qint64 kLongestRequest = 64;
// How often a quit waiting for a cancelled run looks again.
constexpr int kUnwindPollMs = 50;

} // namespace

QByteArray AskRunningProgramToShow(const QString& serverName) {
    const QDeadlineTimer deadline(ProgramStart::kShowRequestWaitMs);
    do {
        QLocalSocket socket;
        socket.connectToServer(serverName);
        if (socket.waitForConnected(200)) {
            socket.write(kShowRequest, sizeof(kShowRequest) - 1);
            if (!socket.waitForBytesWritten(1000))
                return {};
            // Delivered: a program too busy to answer shows its window when it can.
            return socket.waitForReadyRead(1000) ? socket.readLine(kLongestRequest) : kShownAnswer;
        }
        QThread::msleep(50);
    } while (!deadline.hasExpired());
    return {};
}

void ChooseDisplayPlatform() {
    if (!StartedBySystemd())
        return;
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    QByteArray platforms = qgetenv("QT_QPA_PLATFORM");
    if (!x11 && !wayland)
        platforms = "offscreen";
    else if (platforms.isEmpty())
        platforms = wayland ? "wayland;xcb;offscreen" : "xcb;offscreen";
    else if (!platforms.contains("offscreen"))
        platforms += ";offscreen"; // Qt tries the list in order
    qputenv("QT_QPA_PLATFORM", platforms);
}

QString ShowRequestServerName(const std::string& programFolder) {
    const QString folder = QString::fromStdString(programFolder);
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    const QByteArray hash = QCryptographicHash::hash(
        (canonical.isEmpty() ? folder : canonical).toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral("tidevault-%1-%2")
        .arg(::getuid())
        .arg(QString::fromLatin1(hash.left(8).toHex()));
}

ProgramStart::ProgramStart(DesktopHost& host, std::string commandLine)
    : host_(host), commandLine_(std::move(commandLine)) {}

ProgramStart::~ProgramStart() = default;

bool ProgramStart::Headless() {
    return StartedBySystemd() && QGuiApplication::platformName() == QLatin1String("offscreen");
}

std::optional<int> ProgramStart::Prepare() {
    LoadLanguageAndSettings();
    UseQtTranslations();
    std::string problem;
    if (!TakeProgramFolder(lock_, problem)) {
        // Another start holds the folder. A desktop program shows its window
        // and this start ends silently; a holder without a window (the
        // command-line companion) cannot, so the user is told.
        const QByteArray answer =
            lock_.Error() == EWOULDBLOCK
                ? AskRunningProgramToShow(ShowRequestServerName(ProgramFolder()))
                : QByteArray();
        // A service on the offscreen platform has no window anybody could see.
        if (answer == kNoDisplayAnswer)
            host_.MessageBox(GetMsg("strMsgServiceWithoutDisplay"), MsgButtons::Ok,
                             MsgIcon::Information);
        if (!answer.isEmpty())
            return 0;
        host_.MessageBox(problem, MsgButtons::Ok,
                         lock_.Error() == EWOULDBLOCK ? MsgIcon::Information : MsgIcon::Critical);
        return 1;
    }
    Listen();
    if (!StartUpWithoutWindow(problem)) {
        std::cerr << problem << '\n';
        host_.MessageBox(GetMsg("strMsgSystemVarsError"), MsgButtons::Ok, MsgIcon::Critical);
        return 1;
    }
    return std::nullopt;
}

void ProgramStart::Listen() {
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = ShowRequestServerName(ProgramFolder());
    // We hold the folder, so a socket left under this name is a crashed
    // program's and would only stop us from listening.
    QLocalServer::removeServer(name);
    if (!server_->listen(name)) {
        // The program works without it; a second start then finds no one to ask.
        std::cerr << "Tidevault: " << server_->errorString().toStdString() << '\n';
        return;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                while (peer->canReadLine())
                    if (peer->readLine() == kShowRequest) {
                        ShowRequested();
                        peer->write(Headless() ? kNoDisplayAnswer : kShownAnswer);
                    }
                if (peer->bytesAvailable() > kLongestRequest)
                    peer->abort();
            });
        }
    });
}

void ProgramStart::ShowRequested() {
    // Before the main window exists it is shown when it comes, whatever
    // "HideWindowOnStart" says.
    showRequested_ = true;
    if (window_ && !Headless())
        window_->ShowFromTray();
}

void ProgramStart::EndOnTermination() {
    const int fd = TerminationRequestFd();
    if (fd < 0 || termination_ != nullptr)
        return;
    termination_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(termination_, &QSocketNotifier::activated, this, [this, fd] {
        char drained[16];
        while (::read(fd, drained, sizeof(drained)) > 0) {
        }
        if (terminating_)
            return;
        terminating_ = true;
        if (StartedBySystemd())
            ServiceStopped();
        Terminate();
    });
}

void ProgramStart::Terminate() {
    // A run is further down the stack: cancelled, it must unwind before the
    // job list is saved.
    if (IsRunActive()) {
        RequestCancel();
        QTimer::singleShot(kUnwindPollMs, this, &ProgramStart::Terminate);
        return;
    }
    if (window_) {
        window_->EndProgram();
        return;
    }
    Finish();
    QCoreApplication::quit();
}

void ProgramStart::Start() {
    if (Headless()) {
        // From the event loop, as the splash would: a quit must be able to leave it.
        QTimer::singleShot(0, this, [this] { ShowMainWindow(gStyle); });
        return;
    }
    splash_ = std::make_unique<frmSplash>();
    splash_->SetInterval(frmSplash::kShowMs);
    connect(splash_.get(), &frmSplash::finished, this, [this] { ShowMainWindow(gStyle); });
    splash_->show();
}

void ProgramStart::ShowMainWindow(std::uint8_t style) {
    if (window_ || ended_)
        return;
    window_ = std::make_unique<frmMain>(host_);
    window_->SetStyle(style);
    // The start log lines were written with the job list; the caption and
    // the list come with the window.
    if (HandleServiceSwitches(commandLine_) == AfterSwitches::Quit && window_->QuitProgram() != 1)
        return; // ending, or ends once a run has unwound
    if (!Headless()) {
        if (!showRequested_ &&
            LeadingNumber(GetRegSetting(kAppName, kGeneralSettings, "HideWindowOnStart", "0")) == 1)
            window_->HideToTray();
        else
            window_->show();
    }
    StartServiceIfWanted();
}

void ProgramStart::Finish() {
    if (ended_)
        return;
    ended_ = true;
    if (window_)
        window_->EndProgram(); // nothing happens when it ended already
    else
        QuitWithoutWindow();
}

int RunDesktopProgram(int argc, char* argv[]) {
    ChooseDisplayPlatform();
    // Armed before anything can be lost: a stop that comes while the program
    // starts is answered once the event loop runs.
    TerminationRequestFd();
    QApplication app(argc, argv);
    // The name only, not a display name: Qt would append that to every
    // caption, and the main window's is "Tidevault-ver1.0 rev. N" exactly.
    QApplication::setApplicationName(QStringLiteral("Tidevault"));
    // The main window hides to the tray; only quitting ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    DesktopHost host;
    SetHost(&host);
    int result = 0;
    {
        ProgramStart start(host, CommandLineText(argc, argv));
        start.EndOnTermination();
        if (const std::optional<int> end = start.Prepare()) {
            result = *end;
        } else {
            start.Start();
            result = QApplication::exec();
            start.Finish();
        }
    }
    SetHost(nullptr);
    return result;
}
