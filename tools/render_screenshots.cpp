// Renders the windows in typical states, in English and German, to PNG files:
//   render_screenshots PROGRAM_FOLDER OUTPUT_FOLDER
#include "core/Globals.h"
#include "core/RunControl.h"
#include "core/host.h"
#include "i18n/Catalogue.h"
#include "jobs/clsBackup.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolder.h"
#include "ui/ApplyLanguage.h"
#include "ui/DesktopHost.h"
#include "ui/QtTranslations.h"
#include "ui/frmAbout.h"
#include "ui/frmBackupProgress.h"
#include "ui/frmBrowseFTP.h"
#include "ui/frmBrowseRestoreList.h"
#include "ui/frmEditBackup.h"
#include "ui/frmMain.h"
#include "ui/frmPassword.h"
#include "ui/frmSettings.h"
#include "ui/frmSplash.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTreeView>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>

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

DateTime At(int month, int day, int hour, int minute) {
    return *DateTime::FromParts(2026, month, day, hour, minute, 0);
}

// A job list with every kind (local, FTP; full, incremental, compressed,
// plain copies) and every state (never run, finished, failed, aborted).
void PutTypicalJobs() {
    auto add = [](const char* name, const char* folder, std::int32_t status) {
        auto job = std::make_shared<clsBackup>();
        job->sName = name;
        job->sDestinationDir = folder;
        job->archived = true;
        job->enumStatus = status;
        if (status != kStatusNeverRun)
            job->lastOK = At(12, 4, 21, 30);
        gBackups.push_back(job);
        return job;
    };
    auto documents = add("Documents", "/media/anna/Backup/documents", kStatusFinished);
    documents->bZipped = true;
    documents->Schedule =
        clsSchedule{.start = At(1, 1, 0, 0), .enabled = true, .Data = 127, .Tip = kScheduleDaily};
    documents->Schedule->StartHour = *DateTime::FromParts(1899, 12, 30, 21, 30, 0);
    auto photos = add("Photos", "/backups/photos", kStatusFailed);
    photos->bIncremental = true;
    photos->destFTP = true;
    photos->objDestination = clsTidevault{.hostname = "nas.local", .port = 21};
    photos->Schedule =
        clsSchedule{.start = At(1, 1, 0, 0), .enabled = true, .Data = 15, .Tip = kScheduleHourly};
    add("Music", "/media/anna/Backup/music", kStatusAborted)->bIncremental = true;
    add("Projects", "/media/anna/Backup/projects", kStatusNeverRun)->archived = false;
    auto mail = add("Mail archive", "/mail", kStatusFinished);
    mail->destFTP = true;
    mail->objDestination = clsTidevault{.hostname = "backup.example.org", .port = 2121};
}

bool RenderMain(DesktopHost& host, const QString& folder, const QString& language) {
    bool ok = true;
    // The toolbar style with jobs and without, and the seven buttons' style.
    const struct {
        bool empty;
        std::uint8_t style;
        const char* name;
    } variants[] = {{false, 1, "/main-"}, {true, 1, "/main-empty-"}, {false, 0, "/main-buttons-"}};
    for (const auto& [empty, style, name] : variants) {
        gBackups.clear();
        if (!empty)
            PutTypicalJobs();
        frmMain window(host);
        window.SetStyle(style);
        window.ToggleLog();
        host.AddActivityLine("05.12.2026 09:58:12  " + GetMsg("strMsgProgramStarted"));
        host.AddActivityLine("05.12.2026 09:58:12  " + GetMsg("strMsgBackupItemsLoaded", "%d",
                                                              std::to_string(gBackups.size())));
        host.SetStatusText(GetMsg("strMsgProgramStarted"));
        host.SetLastLogLine(
            GetMsg("strMsgBackupItemsLoaded", "%d", std::to_string(gBackups.size())));
        window.resize(1000, 460);
        window.show();
        QCoreApplication::processEvents();
        const QString file = folder + QLatin1String(name) + language + QStringLiteral(".png");
        const bool saved = window.grab().save(file);
        std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(file));
        ok = saved && ok;
    }
    gBackups.clear();
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
    // The destination page once more, with an FTP server filled in.
    for (auto* choice : window.findChildren<QRadioButton*>(QStringLiteral("Option2")))
        if (choice->property(kControlIndexProperty).toInt() == 0)
            choice->click();
    const std::pair<const char*, const char*> server[] = {
        {"txtIP", "nas.local"}, {"txtUsername", "anna"}, {"txtdestpath2", "/backups/documents"}};
    for (const auto& [name, text] : server)
        window.findChild<QLineEdit*>(QLatin1String(name))->setText(QLatin1String(text));
    pages->setCurrentIndex(2);
    ok = Save(window, folder + "/editor-ftp-" + language + ".png") && ok;
    window.reject();
    return ok;
}

// An index of three sessions (a full run and two incremental ones) in a
// destination folder of its own.
void PutStoredSessions(const std::string& destination) {
    const struct {
        const char* stamp;
        const char* path;
        int size;
        long long attrib = 32; // a symbolic link: its mode 0120777 in the high half
    } files[] = {
        {"20261128213000", "/home/anna/Documents/Reports/2026/quarterly-summary.odt", 184320},
        {"20261128213000", "/home/anna/Documents/Reports/2026/budget.ods", 52211},
        {"20261128213000", "/home/anna/Documents/Reports/2025/annual-report.pdf", 2411724},
        {"20261128213000", "/home/anna/Documents/Letters/landlord.odt", 20480},
        {"20261128213000", "/home/anna/Documents/Letters/insurance-claim.pdf", 98304},
        {"20261128213000", "/home/anna/Documents/notes.txt", 1532},
        {"20261201213000", "/home/anna/Documents/Reports/2026/budget.ods", 53877},
        {"20261201213000", "/home/anna/Documents/Letters/bank.odt", 17408},
        {"20261204213000", "/home/anna/Documents/Reports/2026/quarterly-summary.odt", 191488},
        {"20261204213000", "/home/anna/Documents/Reports/2026/travel-expenses.ods", 31744},
        {"20261204213000", "/home/anna/Documents/Reports/2026/report-draft.odt", 40960},
        {"20261204213000", "/home/anna/Documents/Reports/2026/latest.odt", 16, 0xA1FF0020LL},
        {"20261204213000", "/home/anna/Documents/notes.txt", 1790},
    };
    std::string index;
    for (const auto& file : files) {
        const std::string volume = "Documents" + std::string(file.stamp).substr(0, 12);
        const int end = ((file.size + 511) / 512 + 1) * 512;
        index += std::string("dSession=") + file.stamp + "|RecSize=512|arcStart=" + volume +
                 "|sOffs=0|arcEnd=" + volume + "|dEndOffset=" + std::to_string(end) +
                 "|fname=" + file.path + "|size=" + std::to_string(file.size) +
                 "|crc=00000000|Attrib=" + std::to_string(file.attrib) +
                 "|dCT=31295000/0|dLAt=31295000/0|dLWt=31295000/" +
                 std::to_string(file.size * 977) + "\r\n";
    }
    WriteFileAtomically(destination + "/Documents.fs", index);
}

// The restore browser with some files checked, and with a filter typed. Its
// staging copy and settings go to a folder of their own, not the build's.
bool RenderRestoreBrowser(const QString& folder, const QString& language) {
    char work[] = "/tmp/tidevault-screens-XXXXXX";
    if (::mkdtemp(work) == nullptr)
        return false;
    const std::string programFolder = ProgramFolder();
    SetProgramFolder(work);
    CreateFolderPath(std::string(work) + "/temp");
    PutStoredSessions(work);
    auto job = std::make_shared<clsBackup>();
    job->sName = "Documents";
    job->sDestinationDir = work;
    job->archived = true;
    job->enumStatus = kStatusFinished;
    gBackups = {job};
    // The pictures of the progress window hold a run; a restore would wait for it.
    const bool running = gBackupRunning;
    gBackupRunning = false;
    bool ok = false;
    {
        frmBrowseRestoreList window(job);
        if (window.LoadList()) {
            window.resize(900, 460);
            auto* tree = window.findChild<QTreeView*>(QStringLiteral("tvTreeView"));
            auto find = [tree](const char* key) {
                return tree->model()
                    ->match(tree->model()->index(0, 0), Qt::UserRole, QString::fromLatin1(key), 1,
                            Qt::MatchExactly | Qt::MatchRecursive)
                    .value(0);
            };
            const QModelIndex reports = find("SES_20261204213000/home/anna/Documents/Reports/2026");
            tree->model()->setData(find("SES_20261204213000/home/anna/Documents/notes.txt"),
                                   Qt::Checked, Qt::CheckStateRole);
            tree->expandRecursively(find("ses_20261204213000"));
            tree->model()->setData(reports, Qt::Checked, Qt::CheckStateRole);
            window.ShowNode(reports.data(Qt::UserRole + 1).toInt());
            window.findChild<QTreeView*>(QStringLiteral("lvListView"))->header()->sectionClicked(0);
            window.show();
            QCoreApplication::processEvents();
            ok = window.grab().save(folder + "/restore-" + language + ".png");
            window.findChild<QLineEdit*>(QStringLiteral("txtFilter"))
                ->setText(QStringLiteral("budget"));
            QCoreApplication::processEvents();
            ok = window.grab().save(folder + "/restore-filter-" + language + ".png") && ok;
            std::printf("%s restore pictures in %s\n", ok ? "wrote" : "could not write",
                        qPrintable(language));
        }
    }
    gBackupRunning = running;
    gBackups.clear();
    SetProgramFolder(programFolder);
    std::system(("rm -rf " + std::string(work)).c_str());
    return ok;
}

// The remote folder browser with a folder opened and a new name typed. The
// tree is filled from listings as the FTP client hands them over after a
// server's reply, so no server has to run while the pictures are made.
bool RenderRemoteBrowser(const QString& folder, const QString& language) {
    frmBrowseFTP window({"nas.local", 21, "anna", "", true});
    const auto listing = [](std::initializer_list<const char*> names) {
        std::vector<clsFTPFile> entries; // a name ending in "/" is a folder
        for (std::string name : names)
            entries.push_back({.bDir = name.back() == '/',
                               .strName = name.substr(0, name.find_last_not_of('/') + 1)});
        return entries;
    };
    QTreeWidgetItem* root = window.PutRoot("/home/anna");
    window.ShowOpened(root, listing({"notes.txt", "backups/", "photos/", "music/"}));
    QTreeWidgetItem* backups = root->child(0);
    window.ShowOpened(backups, listing({"documents/", "mail/", "Documents.fs"}));
    window.findChild<QTreeWidget*>(QStringLiteral("TreeView1"))->setCurrentItem(backups->child(0));
    window.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(QStringLiteral("laptop"));
    return Save(window, folder + "/remote-browser-" + language + ".png");
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: render_screenshots PROGRAM_FOLDER OUTPUT_FOLDER\n");
        return 2;
    }
    SetProgramFolder(argv[1]);
    // Next starts and completion times as on a Saturday morning.
    SetClockOverride(At(12, 5, 10, 0));
    const QString folder = QString::fromLocal8Bit(argv[2]);
    DesktopHost host;
    SetHost(&host);
    // A run in progress, so the pause button has something to hold.
    RunFlagsHeld run;
    bool ok = true;
    for (const char* language : {"english", "german"}) {
        gLanguageFile = LanguageFileFor(language);
        LoadMessageCatalogue(gLanguageFile);
        UseQtTranslations();
        ok = RenderProgress(folder, QString::fromLatin1(language)) && ok;
        ok = RenderMain(host, folder, QString::fromLatin1(language)) && ok;
        ok = RenderSmallWindows(folder, QString::fromLatin1(language)) && ok;
        ok = RenderSettings(folder, QString::fromLatin1(language)) && ok;
        ok = RenderEditor(folder, QString::fromLatin1(language)) && ok;
        ok = RenderRestoreBrowser(folder, QString::fromLatin1(language)) && ok;
        ok = RenderRemoteBrowser(folder, QString::fromLatin1(language)) && ok;
    }
    SetHost(nullptr);
    return ok ? 0 : 1;
}
