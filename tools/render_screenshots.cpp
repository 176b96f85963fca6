// Renders the windows in typical states, in English and German, to PNG files:
//   render_screenshots PROGRAM_FOLDER OUTPUT_FOLDER
#include "core/Globals.h"
#include "core/RunControl.h"
#include "core/host.h"
#include "i18n/Catalogue.h"
#include "platform/ProgramFolder.h"
#include "ui/DesktopHost.h"
#include "ui/frmAbout.h"
#include "ui/frmBackupProgress.h"
#include "ui/frmEditBackup.h"
#include "ui/frmPassword.h"
#include "ui/frmSettings.h"
#include "ui/frmSplash.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>

#include <cstdio>

namespace {

bool Save(QWidget& window, const QString& file) {
    window.adjustSize();
    window.show();
    QCoreApplication::processEvents();
    const bool saved = window.grab().save(file);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(file));
    return saved;
}

bool RenderProgress(const QString& folder, const QString& language) {
    frmBackupProgress window;
    window.Restart(QString());
    window.UpdateProgress(QString::fromStdString(GetMsg("strMsgBackupProgress")),
                          QStringLiteral("/home/anna/Documents/Reports/2026/"
                                         "quarterly-summary-with-figures-final.odt"),
                          100, 45.5);
    window.ShowPending();
    bool ok = Save(window, folder + "/progress-running-" + language + ".png");
    window.findChild<QPushButton*>(QStringLiteral("dGraphicButton2"))->click();
    ok = Save(window, folder + "/progress-paused-" + language + ".png") && ok;
    RequestResume();
    return ok;
}

// The password prompt with a password half typed, the about box, the splash.
bool RenderSmallWindows(const QString& folder, const QString& language) {
    frmPassword prompt("secret");
    prompt.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(QStringLiteral("secr"));
    bool ok = Save(prompt, folder + "/password-" + language + ".png");
    frmAbout about;
    ok = Save(about, folder + "/about-" + language + ".png") && ok;
    frmSplash splash;
    splash.SetInterval(60 * 60 * 1000); // stays while it is drawn
    return Save(splash, folder + "/splash-" + language + ".png") && ok;
}

bool RenderSettings(const QString& folder, const QString& language) {
    frmSettings window;
    // The language being shown is the one chosen, whatever the build folder stores.
    window.findChild<QComboBox*>(QStringLiteral("Combo1"))
        ->setCurrentText(language.left(1).toUpper() + language.mid(1));
    return Save(window, folder + "/settings-" + language + ".png");
}

// A new job's editor, one picture per page.
bool RenderEditor(const QString& folder, const QString& language) {
    frmEditBackup window;
    window.findChild<QLineEdit*>(QStringLiteral("txtDestPath"))
        ->setText(QStringLiteral("/media/anna/backup-disk"));
    auto* pages = window.findChild<QTabWidget*>(QStringLiteral("SSTab1"));
    bool ok = true;
    for (int i = 0; i < pages->count(); ++i) {
        pages->setCurrentIndex(i);
        ok = Save(window, folder + "/editor-" + QString::number(i) + "-" + language + ".png") && ok;
    }
    window.reject();
    return ok;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: render_screenshots PROGRAM_FOLDER OUTPUT_FOLDER\n");
        return 2;
    }
    SetProgramFolder(argv[1]);
    const QString folder = QString::fromLocal8Bit(argv[2]);
    DesktopHost host;
    SetHost(&host);
    // A run in progress, so the pause button has something to hold.
    RunFlagsHeld run;
    bool ok = true;
    for (const char* language : {"english", "german"}) {
        gLanguageFile = LanguageFileFor(language);
        LoadMessageCatalogue(gLanguageFile);
        ok = RenderProgress(folder, QString::fromLatin1(language)) && ok;
        ok = RenderSmallWindows(folder, QString::fromLatin1(language)) && ok;
        ok = RenderSettings(folder, QString::fromLatin1(language)) && ok;
        ok = RenderEditor(folder, QString::fromLatin1(language)) && ok;
    }
    SetHost(nullptr);
    return ok ? 0 : 1;
}
