// The desktop program: start-up, the desktop host, and (until the main
// window is there) a word that it comes next.
#include "core/host.h"
#include "engine/Startup.h"
#include "i18n/Catalogue.h"
#include "platform/InstanceLock.h"
#include "ui/DesktopHost.h"
#include "ui/QtTranslations.h"

#include <QApplication>
#include <QMessageBox>

#include <cerrno>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Tidevault"));
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
    host.MessageBox(GetMsg("strMsgMainWindowNotYet"), MsgButtons::Ok, MsgIcon::Information);
    QuitWithoutWindow();
    SetHost(nullptr);
    return 0;
}
