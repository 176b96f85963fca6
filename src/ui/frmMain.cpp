#include "ui/frmMain.h"

#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "core/Registry.h"
#include "core/RunControl.h"
#include "engine/BackupRun.h"
#include "engine/JobPassword.h"
#include "engine/Startup.h"
#include "i18n/Catalogue.h"
#include "jobs/JobListFile.h"
#include "platform/FileSystem.h"
#include "platform/TextUtil.h"
#include "ui/ApplyLanguage.h"
#include "ui/DesktopHost.h"
#include "ui/StatusPicture.h"
#include "ui/TrayIcon.h"
#include "ui/WebSite.h"
#include "ui/frmBrowseRestoreList.h"
#include "ui/frmEditBackup.h"
#include "ui/frmPassword.h"
#include "ui_frmMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QStatusBar>
#include <QTabWidget>
#include <QUrl>

#include <algorithm>

namespace {

// The activity list keeps the newest lines; the log file keeps them all.
constexpr int kActivityLines = 1000;
constexpr int kColumnMargin = 12;
// Where the window's size and position are kept between starts.
constexpr const char* kWindowSection = "frmMain";
constexpr const char* kGeometryKey = "Geometry";
constexpr int kMinimumColumnWidth = 110;
constexpr int kTrayIntervalMs = 500;

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// "backup" or "ftp" by destination; "unknown" and "fail" by state override them.
QIcon RowIcon(const clsBackup& job) {
    const char* file = job.destFTP ? ":/icons/ftp.svg" : ":/icons/backup.svg";
    if (job.enumStatus == kStatusNeverRun)
        file = ":/icons/unknown.svg";
    else if (job.enumStatus == kStatusFailed || job.enumStatus == kStatusAborted)
        file = ":/icons/fail.svg";
    return QIcon(QString::fromLatin1(file));
}

} // namespace

frmMain::frmMain(DesktopHost& host, QWidget* parent)
    : QMainWindow(parent), host_(host), ui_(std::make_unique<Ui::frmMain>()) {
    InitUiResources();
    ui_->setupUi(this);
    BuildToolbar();
    BuildMenus();
    askPassword = [this](const std::string& expected) { return frmPassword::Ask(expected, this); };
    statusText_ = new QLabel(this);
    statusText_->setObjectName(QStringLiteral("StatusPanel1"));
    lastLogLine_ = new QLabel(this);
    lastLogLine_->setObjectName(QStringLiteral("StatusPanel2"));
    ui_->StatusBar1->addWidget(statusText_, 1);
    ui_->StatusBar1->addWidget(lastLogLine_, 2);
    statusPicture_ = new StatusPicture(this);
    ui_->StatusBar1->addPermanentWidget(statusPicture_);
    const std::pair<QPushButton*, const char*> pictures[] = {
        {ui_->cmdNew, "new"},          {ui_->cmdEdit, "edit"},       {ui_->cmdDelete, "delete"},
        {ui_->cmdBackup, "backupnow"}, {ui_->cmdRestore, "restore"}, {ui_->cmdSaveandClose, "save"},
        {ui_->cmdClose, "quit"}};
    for (const auto& [button, picture] : pictures)
        button->setIcon(QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(picture))));
    ui_->List1->hide();
    ui_->ListView1->installEventFilter(this);

    connect(ui_->cmdNew, &QPushButton::clicked, this, &frmMain::NewBackup);
    connect(ui_->cmdEdit, &QPushButton::clicked, this, &frmMain::EditSelected);
    connect(ui_->cmdDelete, &QPushButton::clicked, this, &frmMain::DeleteSelected);
    connect(ui_->cmdBackup, &QPushButton::clicked, this, [this] { BackupNow(false); });
    connect(ui_->cmdRestore, &QPushButton::clicked, this, &frmMain::RestoreSelected);
    connect(ui_->cmdSaveandClose, &QPushButton::clicked, this, &frmMain::SaveJobList);
    connect(ui_->cmdClose, &QPushButton::clicked, this, &QWidget::close);
    connect(ui_->ListView1, &QTreeWidget::itemDoubleClicked, this, [this] { EditSelected(); });

    host_.mainWindow = this;
    host_.mainWindowVisible = [this] { return isVisible() && !isMinimized(); };
    host_.onStatusText = [this](const std::string& text) { statusText_->setText(Text(text)); };
    host_.onLastLogLine = [this](const std::string& text) { lastLogLine_->setText(Text(text)); };
    host_.onActivityLines = [this](const std::vector<std::string>& lines) {
        AddActivityLines(lines);
    };
    host_.onCaptionSuffix = [this](const std::string& suffix) {
        captionSuffix_ = Text(suffix);
        ShowCaption();
    };
    host_.onTrayTip = [this](const std::string& tip) { tray_->SetTip(tip); };
    host_.onProgressValue = [this](const std::string&, double percent) {
        statusPicture_->SetPercent(percent);
    };
    host_.onSchedulerTimer = [this](bool enabled) {
        if (enabled)
            schedTimer_->start();
        else
            schedTimer_->stop();
    };
    schedTimer_ = new QTimer(this);
    schedTimer_->setObjectName(QStringLiteral("schedTimer"));
    schedTimer_->setInterval(kSchedulerIntervalMs);
    connect(schedTimer_, &QTimer::timeout, this, &frmMain::SchedulerTick);
    schedTimer_->start();

    tray_ = new TrayIcon(trayMenu_, this);
    connect(tray_, &TrayIcon::RestoreRequested, this, &frmMain::ShowFromTray);
    tray_->Add();
    trayTimer_ = new QTimer(this);
    trayTimer_->setInterval(kTrayIntervalMs);
    connect(trayTimer_, &QTimer::timeout, this, &frmMain::TrayTick);
    trayTimer_->start();

    ApplyTexts();
    UpdateForm();
    restoreGeometry(QByteArray::fromBase64(
        QByteArray::fromStdString(GetRegSetting(kAppName, kWindowSection, kGeometryKey))));
}

frmMain::~frmMain() {
    // The host outlives the window: nothing may reach it through these any more.
    host_.mainWindow = nullptr;
    host_.mainWindowVisible = nullptr;
    host_.onStatusText = nullptr;
    host_.onLastLogLine = nullptr;
    host_.onActivityLines = nullptr;
    host_.onCaptionSuffix = nullptr;
    host_.onTrayTip = nullptr;
    host_.onProgressValue = nullptr;
    host_.onSchedulerTimer = nullptr;
}

void frmMain::SetStyle(std::uint8_t style) {
    if (style > 1)
        return;
    ui_->Toolbar1->setVisible(style == 1);
    ui_->StatusBar1->setVisible(style == 1);
    for (QPushButton* button : {ui_->cmdNew, ui_->cmdEdit, ui_->cmdDelete, ui_->cmdBackup,
                                ui_->cmdRestore, ui_->cmdSaveandClose, ui_->cmdClose})
        button->setVisible(style == 0);
}

void frmMain::ApplyTexts() {
    ApplyLanguage(this);
    ui_->lblEmpty->setText(Text(GetMsg("strMsgNoJobsYet")));
    if (auto* about = findChild<QAction*>(QStringLiteral("mniAbout")))
        about->setText(about->text().replace(QStringLiteral("%v"), ProgramVersion()));
    ShowCaption();
}

void frmMain::ShowCaption() {
    // "Tidevault-ver1.0 rev. 309": major and minor, then the revision.
    setWindowTitle(QStringLiteral("Tidevault-ver") + ProgramVersion().section(u'.', 0, 1) +
                   QStringLiteral(" rev. ") + ProgramRevision() + captionSuffix_);
}

void frmMain::showEvent(QShowEvent* event) {
    ApplyTexts();
    QMainWindow::showEvent(event);
}

void frmMain::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        ApplyTexts();
    // A minimized window goes to the tray, where there is one.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && tray_->Shown())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
    QMainWindow::changeEvent(event);
}

void frmMain::closeEvent(QCloseEvent* event) {
    // The program lives on in the tray: the close box only hides.
    if (ending_) {
        event->accept();
        return;
    }
    event->ignore();
    HideToTray();
}

void frmMain::HideToTray() {
    if (tray_->Shown())
        hide();
    else
        showMinimized();
}

void frmMain::ShowFromTray() {
    showNormal();
    raise();
    activateWindow();
}

int frmMain::QuitProgram() {
    if (ending_)
        return 0;
    if (host_.MessageBox(GetMsg("strMsgQuitAsk"), MsgButtons::YesNo, MsgIcon::Question) !=
        MsgAnswer::Yes)
        return 1;
    // The run is further down this very call stack: it must unwind before
    // anything is saved, so the end comes when it has returned.
    if (IsRunActive()) {
        quitAfterRun_ = true;
        RequestCancel();
        return 0;
    }
    EndProgram();
    return 0;
}

void frmMain::EndProgram() {
    if (ending_)
        return;
    ending_ = true;
    gQuitting = true;
    schedTimer_->stop();
    trayTimer_->stop();
    SaveRegSetting(kAppName, kWindowSection, kGeometryKey, saveGeometry().toBase64().toStdString());
    QuitWithoutWindow([this] { tray_->Remove(); });
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window != this)
            window->close();
    close();
    QCoreApplication::processEvents();
    QCoreApplication::quit();
}

void frmMain::TrayTick() {
    const bool paused = gBackupRunning && gPaused;
    tray_->ShowPaused(paused);
    if (paused)
        tray_->SetTip(GetMsg("strMsgPaused"));
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched != ui_->ListView1 || event->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);
    switch (static_cast<QKeyEvent*>(event)->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        EditSelected();
        return true;
    case Qt::Key_Insert:
        NewBackup();
        return true;
    case Qt::Key_Delete:
        DeleteSelected();
        return true;
    case Qt::Key_F5:
        UpdateForm();
        return true;
    default:
        return QMainWindow::eventFilter(watched, event);
    }
}

void frmMain::UpdateForm() {
    const std::vector<JobRow> rows = ::UpdateForm();
    QTreeWidget* list = ui_->ListView1;
    const int selected = SelectedIndex();
    list->clear();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        auto* item = new QTreeWidgetItem(list);
        item->setData(0, Qt::UserRole, static_cast<int>(i));
        ShowRow(static_cast<int>(i), rows[i]);
    }
    if (selected >= 0 && selected < list->topLevelItemCount())
        list->setCurrentItem(list->topLevelItem(selected));
    // Wide enough for the texts, and for a header of a list still empty.
    for (int column = 0; column < list->columnCount(); ++column) {
        list->resizeColumnToContents(column);
        list->setColumnWidth(
            column, std::max(list->columnWidth(column) + kColumnMargin, kMinimumColumnWidth));
    }
    ui_->lblEmpty->setVisible(rows.empty());
}

void frmMain::ShowRow(int index, const JobRow& row) {
    QTreeWidgetItem* item = ui_->ListView1->topLevelItem(index);
    if (item == nullptr || index >= static_cast<int>(gBackups.size()))
        return;
    int column = 0;
    for (const std::string* text :
         {&row.name, &row.type, &row.start, &row.completed, &row.destination})
        item->setText(column++, Text(*text));
    item->setIcon(0, RowIcon(*gBackups[index]));
}

void frmMain::ShowRows(const std::vector<JobRow>& rows) {
    if (ui_->ListView1->topLevelItemCount() != static_cast<int>(gBackups.size())) {
        UpdateForm();
        return;
    }
    for (const JobRow& row : rows)
        for (std::size_t i = 0; i < gBackups.size(); ++i)
            if (TrimBlanks(gBackups[i]->sName) == row.name)
                ShowRow(static_cast<int>(i), row);
}

void frmMain::SchedulerTick() {
    const TickResult result = ::SchedulerTick([this](const std::string& name) {
        if (!ending_ && !quitAfterRun_)
            RunJob(name, true);
    });
    if (!ending_)
        ShowRows(result.refreshed);
}

void frmMain::RunJob(const std::string& name, bool scheduled) {
    RunBackup(name);
    statusPicture_->SetPercent(-1);
    tray_->SetTip(TrayIcon::kReady);
    if (scheduled && !host_.IsMainWindowVisible()) {
        // Nobody saw the run: a failure must not pass in silence.
        for (const auto& job : gBackups)
            if (job->sName == name && job->enumStatus == kStatusFailed)
                tray_->Notify(QStringLiteral("Tidevault"),
                              Text(GetMsg("strMsgBackupFailed", "%d", name)));
    }
    if (quitAfterRun_)
        EndProgram();
}

int frmMain::SelectedIndex() const {
    const QTreeWidgetItem* item = ui_->ListView1->currentItem();
    if (item == nullptr || !item->isSelected())
        return -1;
    const int index = item->data(0, Qt::UserRole).toInt();
    return index < static_cast<int>(gBackups.size()) ? index : -1;
}

int frmMain::RequireSelection(bool fixedEnglish) {
    const int index = SelectedIndex();
    if (index < 0)
        host_.MessageBox(fixedEnglish ? std::string("Please select a backup first!")
                                      : GetMsg("strMsgSelectBkpFirst"),
                         MsgButtons::Ok, MsgIcon::Critical);
    return index;
}

void frmMain::BackupNow(bool fixedEnglish) {
    const int index = RequireSelection(fixedEnglish);
    if (index < 0)
        return;
    if (RefuseWhileRunning())
        return;
    const std::string name = gBackups[index]->sName; // the list may change during the run
    RunJob(name, false);
    if (!ending_)
        UpdateForm();
}

bool frmMain::RefuseWhileRunning() {
    if (!IsRunActive())
        return false;
    host_.MessageBox(GetMsg("strMsgRunGoingOn"), MsgButtons::Ok, MsgIcon::Exclamation);
    return true;
}

void frmMain::DeleteSelected() {
    const int index = RequireSelection();
    if (index < 0)
        return;
    // The run writes its result back to the job of its name when it ends:
    // deleting meanwhile would lose either the deletion or the result.
    if (RefuseWhileRunning())
        return;
    const std::shared_ptr<clsBackup> job = gBackups[index];
    if (!CheckJobPassword(*job, PasswordPurpose::Delete, askPassword))
        return;
    if (host_.MessageBox(GetMsg("strMsgRealyDelBackup"), MsgButtons::YesNo, MsgIcon::Question) !=
        MsgAnswer::Yes)
        return;
    // The scheduler may have started a run while the questions were open.
    if (RefuseWhileRunning())
        return;
    const auto at = std::find(gBackups.begin(), gBackups.end(), job);
    if (at == gBackups.end())
        return;
    gBackups.erase(at);
    UpdateForm();
    SaveJobList();
}

void frmMain::NewBackup() {
    frmEditBackup editor(std::string(), this);
    editor.exec();
    UpdateForm();
}

void frmMain::EditSelected(int page) {
    const int index = RequireSelection();
    if (index < 0)
        return;
    // The run writes its result back by name: a rename meanwhile would lose it.
    if (RefuseWhileRunning())
        return;
    const std::string name = gBackups[index]->sName;
    if (!frmEditBackup::MayEdit(name, this))
        return;
    frmEditBackup editor(name, this);
    auto* pages = editor.findChild<QTabWidget*>(QStringLiteral("SSTab1"));
    if (page >= 0)
        editorPage_ = page;
    pages->setCurrentIndex(editorPage_);
    editor.exec();
    editorPage_ = pages->currentIndex();
    UpdateForm();
}

void frmMain::RestoreSelected() {
    const int index = RequireSelection();
    if (index < 0)
        return;
    const clsBackup& job = *gBackups[index];
    // Plain copies are restored by the file manager; archives need the restore browser.
    if (!job.archived) {
        if (!job.destFTP || !job.objDestination) {
            OpenFile(job.sDestinationDir);
            return;
        }
        // The desktop's file manager speaks FTP too; the password stays with us.
        QUrl site;
        site.setScheme(QStringLiteral("ftp"));
        site.setHost(Text(job.objDestination->hostname));
        site.setPort(job.objDestination->port);
        site.setUserName(Text(job.objDestination->username));
        site.setPath(Text(job.sDestinationDir));
        QDesktopServices::openUrl(site);
        return;
    }
    // The staging folder is the running backup's workbench until it ends.
    if (RefuseWhileRunning())
        return;
    PrepareTempFolder();
    frmBrowseRestoreList::Open(gBackups[index], this);
}

void frmMain::AddActivityLines(const std::vector<std::string>& lines) {
    // Each line brings its own size, so the list never measures its thousand
    // lines again when one is added; the width is estimated from the length
    // (log lines are plain text), not shaped, so a large run stays fast.
    const QFontMetrics metrics(ui_->List1->font());
    const int height = metrics.height() + 2;
    const int perCharacter = metrics.averageCharWidth() * 5 / 4 + 1;
    for (const std::string& line : lines) {
        auto* item = new QListWidgetItem(Text(line));
        item->setSizeHint(QSize(static_cast<int>(item->text().size()) * perCharacter + 8, height));
        ui_->List1->addItem(item);
    }
    while (ui_->List1->count() > kActivityLines)
        delete ui_->List1->takeItem(0);
    ui_->List1->scrollToBottom();
}

void frmMain::ToggleLog() {
    ui_->List1->setVisible(!ui_->List1->isVisible());
}

void frmMain::OpenLogFile() {
    OpenFile(LogsFolder() + "/tidevault.log");
}

void frmMain::OpenHelp() {
    OpenFile(HelpFolder() + "/index.html");
}

void frmMain::OpenFile(const std::string& path) {
    if (!FileExists(path) && !FolderExists(path)) {
        host_.MessageBox(GetMsg("strMsgCantOpen", "%d", path), MsgButtons::Ok, MsgIcon::Critical);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(Text(path)));
}

void frmMain::SaveJobList() {
    if (!SaveBackups())
        host_.MessageBox(GetMsg("strMsgJobListNotSaved", "%d", gIniFile), MsgButtons::Ok,
                         MsgIcon::Critical);
}
