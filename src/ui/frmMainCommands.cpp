#include "ui/frmMain.h"

#include "ui/WebSite.h"
#include "ui/frmAbout.h"
#include "ui/frmSettings.h"
#include "ui_frmMain.h"

#include <QMenu>
#include <QMenuBar>
#include <QToolButton>

// The main window's toolbar, menus and the tray icon's menu.

namespace {

// The toolbar's commands: key, English text and picture.
struct ToolCommand {
    const char* key;
    const char* text;
    const char* picture;
};
constexpr ToolCommand kToolCommands[] = {
    {"keyNew", "&New", "new"},
    {"keyEdit", "&Edit", "edit"},
    {"keyDelete", "&Delete", "delete"},
    {"keyBackup", "&Backup now", "backupnow"},
    {"keyRestore", "&Restore", "restore"},
    {"keyLog", "&Log", "log"},
    {"keyNotepad", "Log &file", "logfile"},
    {"keyHelp", "&Help", "help"},
    {"keyClose", "&Quit", "quit"},
};

} // namespace

void frmMain::BuildToolbar() {
    for (const ToolCommand& command : kToolCommands) {
        auto* button = new QToolButton(ui_->Toolbar1);
        button->setObjectName(QString::fromLatin1(command.key));
        button->setText(QString::fromLatin1(command.text));
        button->setIcon(
            QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(command.picture))));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        ui_->Toolbar1->addWidget(button);
        const std::string key = command.key;
        if (key == "keyNew")
            connect(button, &QToolButton::clicked, this, &frmMain::NewBackup);
        else if (key == "keyEdit")
            connect(button, &QToolButton::clicked, this, &frmMain::EditSelected);
        else if (key == "keyDelete")
            connect(button, &QToolButton::clicked, this, &frmMain::DeleteSelected);
        else if (key == "keyBackup")
            connect(button, &QToolButton::clicked, this, [this] { BackupNow(true); });
        else if (key == "keyRestore")
            connect(button, &QToolButton::clicked, this, &frmMain::RestoreSelected);
        else if (key == "keyLog")
            connect(button, &QToolButton::clicked, this, &frmMain::ToggleLog);
        else if (key == "keyNotepad")
            connect(button, &QToolButton::clicked, this, &frmMain::OpenLogFile);
        else if (key == "keyHelp")
            connect(button, &QToolButton::clicked, this, &frmMain::OpenHelp);
        else
            connect(button, &QToolButton::clicked, this, &frmMain::QuitProgram);
    }
}

void frmMain::BuildMenus() {
    auto menu = [this](const char* name, const char* title) {
        QMenu* added = menuBar()->addMenu(QString::fromUtf8(title));
        added->setObjectName(QString::fromLatin1(name));
        return added;
    };
    auto item = [this](QMenu* to, const char* name, const char* text, auto handler) {
        QAction* action = to->addAction(QString::fromUtf8(text));
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    auto picture = [](QAction* action, const char* file) {
        action->setIcon(QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(file))));
    };
    QMenu* backup = menu("mnuBackup", "&Backup");
    picture(item(backup, "mniNewBackup", "&New backup...", &frmMain::NewBackup), "new");
    picture(item(backup, "mniEditBackup", "&Edit backup...", [this] { EditSelected(); }), "edit");
    QMenu* parts = backup->addMenu(QStringLiteral("Edit p&art"));
    parts->setObjectName(QStringLiteral("mnuEditPart"));
    item(parts, "mniSource", "&Sources...", [this] { EditSelected(0); });
    item(parts, "mniASettings", "&Archive settings...", [this] { EditSelected(1); });
    item(parts, "mniDestination", "&Destination...", [this] { EditSelected(2); });
    item(parts, "mniSchedule", "S&chedule...", [this] { EditSelected(3); });
    picture(item(backup, "mniDeleteBackup", "&Delete backup", &frmMain::DeleteSelected), "delete");
    backup->addSeparator();
    picture(item(backup, "mniBackup1", "&Backup now", [this] { BackupNow(true); }), "backupnow");
    picture(item(backup, "mniRestorFiles", "&Restore files...", &frmMain::RestoreSelected),
            "restore");
    backup->addSeparator();
    item(backup, "mniProgramSetings", "Program &settings...", [this] {
        frmSettings settings(this);
        settings.exec();
        ApplyTexts();
    });
    backup->addSeparator();
    item(backup, "mniMinimize", "&Minimize to tray", &frmMain::HideToTray);
    picture(item(backup, "mniQuit", "&Quit", &frmMain::QuitProgram), "quit");
    QMenu* help = menu("mnuHelp", "&Help");
    picture(item(help, "mniContents", "&Contents", &frmMain::OpenHelp), "help");
    item(help, "mniIndex", "&Index", &frmMain::OpenHelp);
    help->addSeparator();
    auto showAbout = [this] {
        frmAbout about(this);
        about.exec();
    };
    picture(item(help, "mniAbout", "&About Tidevault %v", showAbout), "about");

    // The tray icon's menu; a child of the window, so the language reaches it.
    trayMenu_ = new QMenu(QStringLiteral("Menu"), this);
    trayMenu_->setObjectName(QStringLiteral("mniTray"));
    picture(item(trayMenu_, "mniShow", "Restore &window", &frmMain::ShowFromTray), "restorewindow");
    trayMenu_->addSeparator();
    picture(item(trayMenu_, "mnium", "Users &manual", &frmMain::OpenHelp), "help");
    picture(item(trayMenu_, "mniQuorvane", "&Quorvane Soft website", [] { OpenMakerWebSite(); }),
            "web");
    trayMenu_->addSeparator();
    picture(item(trayMenu_, "mniaboutmenu", "Abo&ut", showAbout), "about");
    trayMenu_->addSeparator();
    picture(item(trayMenu_, "mniExit", "E&xit program", &frmMain::QuitProgram), "quit");
}
