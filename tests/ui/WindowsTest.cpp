#include "WindowFixture.h"
#include "core/Registry.h"
#include "core/RunControl.h"
#include "engine/JobPassword.h"
#include "engine/Startup.h"
#include "jobs/JobListFile.h"
#include "support/StandInSystemctl.h"
#include "ui/StatusPicture.h"
#include "ui/TrayIcon.h"
#include "ui/WebSite.h"
#include "ui/frmAbout.h"
#include "ui/frmEditBackup.h"
#include "ui/frmMain.h"
#include "ui/frmPassword.h"
#include "ui/frmSettings.h"
#include "ui/frmSplash.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

namespace {

class MainWindow : public WindowTest {
protected:
    void TearDown() override { window.reset(), WindowTest::TearDown(); }
    QTreeWidget* Open() { // after the jobs are in gBackups, as at start
        window = std::make_unique<frmMain>(desktop);
        return Child<QTreeWidget>(window.get(), "ListView1");
    }
    static std::vector<std::string> Texts(const QTreeWidgetItem* item) {
        std::vector<std::string> texts(item->columnCount());
        for (std::size_t i = 0; i < texts.size(); ++i)
            texts[i] = item->text(i).toStdString();
        return texts;
    }
    std::unique_ptr<frmMain> window;
};

TEST_F(MainWindow, ShowsTheFiveColumnsAndTheStatePictureOfEachJob) {
    AddJob("  Docs ")->bZipped = true;
    AddJob("Photos")->enumStatus = kStatusFailed;
    AddJob("Music")->enumStatus = kStatusFinished;
    QTreeWidget* list = Open();
    EXPECT_EQ(Texts(list->headerItem()),
              (std::vector<std::string>{"name", "Type", "start", "completed", "Destination"}));
    const std::vector<JobRow> rows = UpdateForm();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    const char* pictures[] = {":/icons/unknown.svg", ":/icons/fail.svg", ":/icons/backup.svg"};
    for (int i = 0; i < 3; ++i) {
        const JobRow& row = rows[i];
        EXPECT_EQ(Texts(list->topLevelItem(i)),
                  (std::vector{row.name, row.type, row.start, row.completed, row.destination}));
        EXPECT_TRUE(SamePicture(list->topLevelItem(i)->icon(0), pictures[i])) << i;
    }
}

TEST_F(MainWindow, BackupNowAndTheTimerRunAJobAndRefreshItsRowUnlessTheVisibleWindowBlocks) {
    PutSource("docs/a.txt", "alpha"), gBlockSchedule = true;
    AddJob("Docs")->Schedule =
        clsSchedule{.start = At(9, 0), .enabled = true, .Data = 1, .Tip = kScheduleHourly};
    QTreeWidget* list = Open();
    EXPECT_EQ(window->findChild<QTimer*>("schedTimer")->interval(), 1000);
    EXPECT_EQ(list->topLevelItem(0)->text(2), "Today at11:01");
    const auto completed = [&] { return list->topLevelItem(0)->text(3).toStdString(); };
    Click(window.get(), "cmdBackup"); // nothing selected yet
    EXPECT_EQ(boxes, GetMsg("strMsgSelectBkpFirst") + "(critical)|");
    EXPECT_EQ(gBackups[0]->enumStatus, kStatusNeverRun);
    list->setCurrentItem(list->topLevelItem(0));
    Click(window.get(), "cmdBackup");
    EXPECT_EQ(gBackups[0]->enumStatus, kStatusFinished);
    const std::string first = completed();
    EXPECT_EQ(first, CompletedText(*gBackups[0], At(10, 0)));
    EXPECT_TRUE(SamePicture(list->topLevelItem(0)->icon(0), ":/icons/backup.svg"));
    SetClockOverride(At(11, 1));
    window->show();
    window->SchedulerTick();
    EXPECT_EQ(completed(), first);
    window->hide();
    window->SchedulerTick();
    EXPECT_NE(completed(), first);
    EXPECT_EQ(completed(), CompletedText(*gBackups[0], At(11, 1)));
    EXPECT_EQ(list->topLevelItem(0)->text(2), "Today at12:01");
}

TEST_F(MainWindow, DeleteAsksForTheJobsPasswordAndOnYesRemovesTheJobAndSavesTheList) {
    AddJob("Docs");
    AddJob("Photos")->password = "pw";
    QTreeWidget* list = Open();
    std::vector<std::string> prompted; // the password each prompt expects, all right
    window->askPassword = [&](const std::string& pw) { return prompted.push_back(pw), true; };
    for (const MsgAnswer reply : {MsgAnswer::No, MsgAnswer::Yes}) {
        answer = reply;
        list->setCurrentItem(list->topLevelItem(1));
        Click(window.get(), "cmdDelete");
    }
    EXPECT_EQ(boxes, (GetMsg("strMsgRealyDelBackup") + "|") + GetMsg("strMsgRealyDelBackup") + "|");
    EXPECT_EQ(prompted, std::vector<std::string>(2, "pw"));
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(gBackups[0]->sName, "Docs");
    EXPECT_EQ(home.Read("backups.ini"), SerializeBackups(gBackups)); // saved
}

TEST_F(MainWindow, TrayTipsFollowTheStatusAndThePausedRun) {
    Open();
    const QString line = "Tidevault " + ProgramVersion().section('.', 0, 1) + "\n";
    EXPECT_EQ(window->Tray()->Tip(), "Tidevault v" + line.mid(10) + "Ready ...");
    const std::string fifty(50, 'x');
    const std::pair<std::string, QString> tips[] = {
        {"Docs-45.00", line + "Docs-45.00"},
        {fifty, (line + QString::fromStdString(fifty)).left(63)}, // the tip's field
        {fifty + "y", line + "Message too long! Check the message list"}};
    for (const auto& [status, tip] : tips) {
        desktop.SetTrayTip(status); // as progress and pausing do
        EXPECT_EQ(window->Tray()->Tip(), tip) << status;
    }
    gBackupRunning = gPaused = true;
    window->TrayTick();
    EXPECT_TRUE(window->Tray()->ShowsPaused());
    EXPECT_EQ(window->Tray()->Tip(), line + "Paused");
    gPaused = false;
    window->TrayTick();
    EXPECT_FALSE(window->Tray()->ShowsPaused());
    // A scheduled run nobody watched fails: it is announced, not kept silent.
    gBackupRunning = false;
    PutSource("docs/a.txt", "alpha");
    const auto job = AddJob("Lost");
    job->sDestinationDir = "/proc/tidevault-nowhere";
    job->Schedule =
        clsSchedule{.start = At(9, 0), .enabled = true, .Data = 1, .Tip = kScheduleHourly};
    window->UpdateForm();
    SetClockOverride(At(11, 1));
    mainVisible = false;
    window->SchedulerTick();
    EXPECT_EQ(gBackups[0]->enumStatus, kStatusFailed);
    EXPECT_EQ(window->Tray()->LastNotice().toStdString(),
              GetMsg("strMsgBackupFailed", "%d", "Lost"));
}

TEST_F(MainWindow, CloseBoxKeepsTheProgramAndQuitDuringARunCancelsItThenSaves) {
    PutSource("docs/a.txt", "alpha");
    AddJob("Docs");
    QTreeWidget* list = Open();
    window->show();
    window->close(); // no tray offscreen: minimized, never ended
    EXPECT_TRUE(window->isMinimized());
    answer = MsgAnswer::No;
    EXPECT_EQ(window->QuitProgram(), 1);
    EXPECT_FALSE(gQuitting);
    EXPECT_EQ(std::exchange(boxes, ""), GetMsg("strMsgQuitAsk") + "|");
    answer = MsgAnswer::Yes;
    list->setCurrentItem(list->topLevelItem(0));
    bool ranMeanwhile = false;
    QTimer::singleShot(0, window.get(), [&] { // at the run's first yield
        ranMeanwhile = IsRunActive();
        home.Write("temp/Docs202612051000", "staged"); // the run's workbench stays
        window->RestoreSelected();
        EXPECT_EQ(home.Read("temp/Docs202612051000"), "staged");
        window->QuitProgram();
        EXPECT_FALSE(gQuitting); // nothing ends below a run still going
    });
    Click(window.get(), "cmdBackup");
    EXPECT_TRUE(ranMeanwhile);
    EXPECT_EQ(boxes, GetMsg("strMsgRunGoingOn") + "|" + GetMsg("strMsgQuitAsk") + "|");
    EXPECT_EQ(gBackups[0]->enumStatus, kStatusAborted);
    EXPECT_TRUE(gQuitting);
    EXPECT_EQ(home.Read("backups.ini"), SerializeBackups(gBackups));
    const std::string log = home.Read("logs/tidevault.log");
    EXPECT_LT(log.find(GetMsg("strMsgClosingProgram")), log.find(GetMsg("strMsgProgramClosed")));
    EXPECT_EQ(Child<StatusPicture>(window.get(), "picStatus")->Percent(), -1);
}

TEST_F(MainWindow, KeysAndMenusReachTheirCommandsAndTheEditorPage) {
    AddJob("Docs");
    QTreeWidget* list = Open();
    std::string names;
    for (const QAction* action : Child<QMenu>(window.get(), "mniTray")->actions())
        names += (action->isSeparator() ? "-" : action->objectName().toStdString()) + ",";
    EXPECT_EQ(names, "mniShow,-,mnium,mniQuorvane,-,mniaboutmenu,-,mniExit,");
    const auto press = [&](int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(list, &event);
    };
    press(Qt::Key_Space); // nothing selected
    EXPECT_EQ(std::exchange(boxes, ""), GetMsg("strMsgSelectBkpFirst") + "(critical)|");
    list->setCurrentItem(list->topLevelItem(0));
    std::vector<int> pages; // the page each editor opened on
    const auto edit = [&](const std::function<void()>& command) {
        QTimer::singleShot(0, [&] {
            auto* editor = QApplication::activeModalWidget();
            pages.push_back(Child<QTabWidget>(editor, "SSTab1")->currentIndex());
            qobject_cast<QDialog*>(editor)->reject();
        });
        command();
    };
    const auto menu = [&](const char* name) {
        return [=, this] { Child<QAction>(window.get(), name)->trigger(); };
    };
    edit(menu("mniSchedule"));
    edit(menu("mniEditBackup")); // keeps the page last chosen
    edit(menu("mniDestination"));
    edit([&] { press(Qt::Key_Return); });
    edit(menu("mniSource"));
    edit(menu("mniASettings"));
    EXPECT_EQ(pages, (std::vector{3, 3, 2, 2, 0, 1}));
    answer = MsgAnswer::No;
    press(Qt::Key_Delete);
    EXPECT_EQ(std::exchange(boxes, ""), GetMsg("strMsgRealyDelBackup") + "|");
    AddJob("Photos");
    press(Qt::Key_F5);
    EXPECT_EQ(list->topLevelItemCount(), 2);
}

TEST_F(MainWindow, LanguageReachesMenusTrayMenuToolbarAndTheAboutEntry) {
    Open();
    std::string seen;
    for (const char* language : {"german", "english"}) {
        gLanguageFile = std::string(TIDEVAULT_SOURCE_DIR "/Languages/") + language + ".lng";
        window->show(); // every showing applies the language
        for (const char* name : {"mnuBackup", "mniTray"})
            seen += Child<QMenu>(window.get(), name)->title().toStdString() + "|";
        for (const char* name : {"mniShow", "mniAbout"})
            seen += Child<QAction>(window.get(), name)->text().toStdString() + "|";
        seen += Child<QToolButton>(window.get(), "keyBackup")->text().toStdString() + "\n";
        window->hide();
    }
    const std::string version = ProgramVersion().toStdString();
    EXPECT_EQ(seen, "&Sicherung|Menü|&Fenster wiederherstellen|Ü&ber Tidevault " + version +
                        "|&Jetzt sichern\n&Backup|Menu|Restore &window|&About Tidevault " +
                        version + "|&Backup now\n");
}

struct Systemctl : StandInSystemctl {
    void TestBody() override {}
    using StandInSystemctl::FailOn, StandInSystemctl::SetUp, StandInSystemctl::TakeCalls,
        StandInSystemctl::TearDown;
};

// Both language files and the stand-in systemctl.
class SettingsWindow : public WindowTest {
protected:
    void SetUp() override { systemctl.SetUp(), WindowTest::SetUp(), answer = MsgAnswer::Ok; }
    void TearDown() override { WindowTest::TearDown(), systemctl.TearDown(); }
    // With `on`: service and hidden start take it, the scheduler block the opposite.
    void Open(std::optional<bool> on = {}, const char* language = "") {
        window = std::make_unique<frmSettings>();
        window->show();
        for (const char* name : {"chkService", "chkHide", "Check1"})
            Box(name)->setChecked(on ? *on != (name[0] == 'C') : Box(name)->isChecked());
        Child<QComboBox>(window.get(), "Combo1")->setCurrentText(language);
    }
    QCheckBox* Box(const char* name) const { return Child<QCheckBox>(window.get(), name); }
    // Scheduler block, hidden start, service and language: as shown, then as stored.
    std::string State() const {
        std::string text;
        for (const char* name : {"Check1", "chkHide", "chkService"})
            text += Box(name)->isChecked() ? "1," : "0,";
        text += Child<QComboBox>(window.get(), "Combo1")->currentText().toStdString() + ",";
        for (const char* name : {"blockSchedule", "HideWindowOnStart", "RunAsService", "Language"})
            text += GetRegSetting(kAppName, kGeneralSettings, name, "-") + ",";
        return text;
    }
    Systemctl systemctl;
    std::unique_ptr<frmSettings> window;
};

TEST_F(SettingsWindow, OkStoresWhatIsShownCancelNothingAndTheServiceFollowsOnlyItsBox) {
    const std::tuple<int, bool, const char*, const char*, const char*> rows[] = {
        {0, true, "", "Tidevault service service installed!|", "0,1,1,English,"},
        {0, true, "enable", "Tidevault service failed to install!(critical)|", "0,1,0,English,"},
        {1, false, "disable", "Tidevault service failed to uninstall!(critical)|",
         "1,0,1,English,"},
        {1, false, "", "Tidevault service uninstalled!|", "1,0,0,English,"},
        {0, false, "", "", "1,0,0,German,"}};
    for (const auto& [runAs, on, failOn, messages, stored] : rows) {
        gRunAsService = runAs;
        systemctl.FailOn(failOn);
        Open(on, stored[6] == 'G' ? "German" : "English");
        Click(window.get(), "cmdOK");
        EXPECT_EQ(std::exchange(boxes, ""), messages);
        EXPECT_EQ(State(), std::string(stored) + stored);
        EXPECT_EQ(systemctl.TakeCalls().empty(), runAs == on) << stored;
        Open(); // the stored values, shown again
        EXPECT_EQ(State(), std::string(stored) + stored);
    }
    // German from now on; the stored name is matched whatever its case.
    SaveRegSetting(kAppName, kGeneralSettings, "Language", "gERMAN");
    Open();
    EXPECT_EQ(window->windowTitle().toStdString() + State(),
              "Programmeinstellungen1,0,0,German,1,0,0,gERMAN,");
    EXPECT_TRUE(Box("chkService")->toolTip().startsWith("Startet Tidevault"));
    EXPECT_EQ(GetMsg("strMsgFailInstall"), "%s konnte nicht installiert werden!");
    ::unlink(home.File("Languages").c_str()); // no languages: Cancel keeps, OK deletes
    Open(true);
    Click(window.get(), "cmdCancel");
    EXPECT_EQ(State() + systemctl.TakeCalls() + boxes, "0,1,1,,1,0,0,gERMAN,");
    Open(false);
    Click(window.get(), "cmdOK");
    EXPECT_EQ(State(), "1,0,0,,1,0,0,-,");
}

class EditorWindow : public WindowTest {
protected:
    static std::unique_ptr<frmEditBackup> Open(const std::string& name = "") {
        auto window = std::make_unique<frmEditBackup>(name);
        window->show();
        return window;
    }
    static void Type(const QWidget* w, const char* box, const std::string& text) {
        Child<QLineEdit>(w, box)->setText(QString::fromStdString(text));
    }
    // A valid new job: the source folder, the local destination, an archive, a password.
    std::unique_ptr<frmEditBackup> Filled(const char* name, const char* retyped = "one") {
        auto w = Open();
        Type(w.get(), "txtBackupName", name);
        auto* row = new QTreeWidgetItem(Child<QTreeWidget>(w.get(), "lvFiles"),
                                        {QString::fromStdString(source.Path())});
        row->setData(0, Qt::UserRole, 1);
        Type(w.get(), "txtDestPath", destination.Path());
        Child<QCheckBox>(w.get(), "chkPassword")->setChecked(true);
        Type(w.get(), "txtPass1", "one");
        Type(w.get(), "txtPass2", retyped);
        return w;
    }
};

TEST_F(EditorWindow, ChecksRunInOrderAndKeepTheEditorOpen) {
    gBackups.push_back(std::make_shared<clsBackup>());
    gBackups.back()->sName = "Photos";
    CreateFolderPath(source.File("inner"));
    const std::string dest = destination.Path();
    // clang-format off
    const struct { const char* name; std::string dest; bool source; const char *retyped, *message; }
    rows[] = {{"---", dest, true, "one", "The backup name is empty!(critical)|"},
        {"a/b", dest, true, "one", "A backup name cannot hold \"/\"!(critical)|"},
        {"pHo-tos", dest, true, "one", "Backup name already exists!(critical)|"},
        {"Work", home.File("missing"), true, "one",
         "Destination directory does not exists!(critical)|"},
        {"Work", dest, false, "one", "No source to backup!(critical)|"},
        {"Work", source.File("inner"), true, "one", "The destination"},
        {"Work", dest, true, "two",
         "The two passwords differ! Type the same password in both boxes.(critical)|"}};
    // clang-format on
    for (const auto& row : rows) {
        auto w = Filled(row.name, row.retyped);
        Type(w.get(), "txtDestPath", row.dest);
        if (!row.source)
            Child<QTreeWidget>(w.get(), "lvFiles")->clear();
        boxes.clear();
        Click(w.get(), "cmdSaveBackup");
        EXPECT_EQ(boxes.substr(0, std::string(row.message).size()), row.message) << row.name;
        EXPECT_TRUE(w->SavedJobName().empty());
        EXPECT_EQ(gBackups.size(), 1U);
    }
}

TEST_F(EditorWindow, NewJobSavesLikeTheHandWrittenOneAndRenameKeepsTheEarlierIndex) {
    auto w = Filled("My-Work");
    Click(w.get(), "cmdSaveBackup");
    ASSERT_EQ(w->SavedJobName(), "MyWork") << boxes;
    home.Write("hand.ini",
               "[Backups]\nMyWork\n[MyWork]\nStorage=LOC\nDestination=" + destination.Path() +
                   "\nType=FULL\nCompress=NOT\nIMSK=*.*\nEMSK=\nStatus=0\nProtected=" +
                   EncodeCharCodes(TransformPassword("one")) +
                   "\nOKLast=189912300000\nArchived=yes\nSplit=0\nSchedule=0\nDir0001=" +
                   source.Path() + "\n");
    std::vector<std::shared_ptr<clsBackup>> byHand;
    std::string error;
    ASSERT_TRUE(LoadBackups(home.File("hand.ini"), byHand, error)) << error;
    EXPECT_EQ(SerializeBackups(gBackups), SerializeBackups(byHand));
    // The job has an index at its destination: a rename asks and keeps it.
    destination.Write("MyWork.fs", "index");
    auto edit = Open("MyWork");
    Type(edit.get(), "txtBackupName", "Renamed");
    boxes.clear();
    Click(edit.get(), "cmdModify");
    EXPECT_EQ(edit->SavedJobName(), "Renamed");
    EXPECT_EQ(boxes.rfind("Backup \"MyWork\" already has backups", 0), 0U) << boxes;
    EXPECT_FALSE(FileExists(destination.File("MyWork.fs")));
    EXPECT_EQ(gBackups.front()->sName, "Renamed");
}

using SmallWindows = WindowTest;

const std::string kPassword = " Grüße aus Köln 42 ";

TEST_F(SmallWindows, PasswordPromptComparesTheTypedTextByteForByte) {
    // clang-format off
    const struct { std::string typed; bool ok, result; } rows[] = {
        {kPassword, true, true}, {"Grüße aus Köln 42", true, false},
        {" grüße aus köln 42 ", true, false}, {kPassword, false, false}};
    // clang-format on
    for (const auto& row : rows) {
        frmPassword prompt(kPassword);
        prompt.show();
        Child<QLineEdit>(&prompt, "Text1")->setText(QString::fromStdString(row.typed));
        Click(&prompt, row.ok ? "cmdOk" : "cmdCancel");
        EXPECT_EQ(prompt.Result(), row.result) << row.typed;
        EXPECT_EQ(prompt.TypedText(), row.ok ? row.typed : "") << row.typed;
        EXPECT_FALSE(prompt.isVisible());
    }
}

TEST_F(SmallWindows, ProtectedJobsAskOnceAndLogTheOutcome) {
    std::string log;
    desktop.onActivityLine = [&](const std::string& line) { log += line + "|"; };
    clsBackup job;
    job.sName = "Photos";
    job.password = "   "; // blanks only protect nothing
    int asked = 0;
    const auto ask = [&](bool right) {
        return CheckJobPassword(
            job, right ? PasswordPurpose::Edit : PasswordPurpose::Delete,
            [&](const std::string& typed) { return ++asked, right && typed == kPassword; });
    };
    EXPECT_TRUE(ask(false));
    EXPECT_EQ(log + std::to_string(asked), "0");
    job.password = kPassword;
    EXPECT_FALSE(ask(false));
    EXPECT_TRUE(ask(true));
    EXPECT_EQ(boxes, "Wrong password for deleting Photos!(critical)|");
    for (const char* line :
         {"Requesting  password for deleting Photos...", "Wrong password for deleting Photos!",
          "Requesting for password for editing Photos ...", "Password OK for editing Photos!"})
        EXPECT_NE(log.find(line), std::string::npos) << line << log;
    EXPECT_EQ(asked, 2);
}

TEST_F(SmallWindows, AboutAndSplashShowTheVersionInEitherLanguage) {
    for (const char* language : {"english", "german"}) {
        gLanguageFile = LanguageFileFor(language);
        const bool german = language[0] == 'g';
        frmAbout about;
        EXPECT_EQ(Child(&about, "lblVersion")->text(), "Version " TIDEVAULT_PROJECT_VERSION);
        EXPECT_EQ(frmPassword("").windowTitle(), german ? "Kennwort" : "Password");

        frmSplash splash;
        int finished = 0;
        QEventLoop loop; // bounded, so a timer that never fires fails instead of hanging
        QObject::connect(&splash, &frmSplash::finished, [&] { ++finished, loop.quit(); });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        splash.SetInterval(1);
        splash.show();
        loop.exec();
        EXPECT_EQ(finished, 1);
        EXPECT_EQ(Child(&splash, "lblCaption")->text(),
                  (german ? "Tidevault-Datensicherung, Revision " : "Tidevault backup, revision ") +
                      QString(TIDEVAULT_PROJECT_VERSION).section('.', 2));
    }
}

} // namespace
