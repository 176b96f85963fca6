// The desktop program: start-up, the desktop host and the main window.
#include "core/Globals.h"
#include "core/Registry.h"
#include "core/host.h"
#include "engine/Startup.h"
#include "i18n/Catalogue.h"
#include "platform/InstanceLock.h"
#include "platform/TextConvert.h"
#include "ui/DesktopHost.h"
#include "ui/QtTranslations.h"
#include "ui/frmMain.h"

#include <QApplication>

#include <cerrno>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The name only, not a display name: Qt would append that to every
    // caption, and the main window's is "Tidevault-ver1.0 rev. N" exactly.
    QApplication::setApplicationName(QStringLiteral("Tidevault"));
    // The main window hides to the tray; only quitting ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    DesktopHost host;
    SetHost(&host);

    LoadLanguageAndSettings();
    UseQtTranslations();
    InstanceLock lock;
    std::string problem;
    if (!TakeProgramFolder(lock, problem)) {
        // A second start on the same program folder ends silently.
        if (lock.Error() == EWOULDBLOCK)
            return 0;
        host.MessageBox(problem, MsgButtons::Ok, MsgIcon::Critical);
        return 1;
    }
    if (!StartUpWithoutWindow(problem)) {
        host.MessageBox(GetMsg("strMsgSystemVarsError"), MsgButtons::Ok, MsgIcon::Critical);
        return 1;
    }
    int result = 0;
    {
        frmMain window(host);
        window.SetStyle(gStyle);
        if (LeadingNumber(GetRegSetting(kAppName, kGeneralSettings, "HideWindowOnStart", "0")) == 1)
            window.HideToTray();
        else
            window.show();
        result = QApplication::exec();
        // Left another way than by quitting: the quit sequence still runs.
        window.EndProgram();
    }
    SetHost(nullptr);
    return result;
}
