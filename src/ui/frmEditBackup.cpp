#include "ui/frmEditBackup.h"

#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "core/Registry.h"
#include "core/host.h"
#include "engine/EarlierIndex.h"
#include "engine/JobPassword.h"
#include "engine/Startup.h"
#include "ftp/clsFTPConnection.h"
#include "i18n/Catalogue.h"
#include "jobs/JobChecks.h"
#include "jobs/JobListFile.h"
#include "jobs/JobName.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/TextConvert.h"
#include "platform/TextUtil.h"
#include "ui/ApplyLanguage.h"
#include "ui/DesktopHost.h"
#include "ui/WebSite.h"
#include "ui/frmBrowseFTP.h"
#include "ui/frmPassword.h"
#include "ui_frmEditBackup.h"

#include <QButtonGroup>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QRegularExpressionValidator>
#include <QUrl>

#include <cmath>

namespace {

constexpr const char* kMasks = "masks";
constexpr int kMaskSlots = 10;
constexpr int kDayEntries = 32;
constexpr int kDaysInWeek = 7;
constexpr int kLastMinute = 59;
constexpr double kMiB = 1048576.0;
// Without a chosen split size, volumes are as large as a CD.
constexpr std::int32_t kDefaultSplit = 650 * 1048576;
constexpr int kSplitValues[] = {144, 288, 3200, 6400, 12800, 25600, 65000, 70000, 80000, 90000};
constexpr const char* kSplitTexts[] = {"1.44 MB (Floppy)",      "2.88 MB (Floppy)",
                                       "32 MB (Memory stick)",  "64 MB (Memory stick)",
                                       "128 MB (Memory stick)", "256 MB (Memory stick)",
                                       "650 MB (CD-ROM)",       "700 MB (CD-ROM)",
                                       "800 MB  (CD-ROM)",      "900 MB (CD-ROM)"};
// The placeholder address an anonymous FTP login gives as its password.
constexpr const char* kAnonymousPassword = clsFTPConnection::kAnonymousPassword;

std::string DayText(int index) {
    if (index == kDayEntries - 1)
        return "Last day!";
    const int day = index + 1;
    const char* suffix = "th";
    if (day == 1 || day == 21) // NOLINT(readability-magic-numbers)
        suffix = "st";
    else if (day == 2 || day == 22) // NOLINT(readability-magic-numbers)
        suffix = "nd";
    else if (day == 3 || day == 23) // NOLINT(readability-magic-numbers)
        suffix = "rd";
    return std::to_string(day) + suffix;
}

std::int32_t SplitBytes(int value) {
    return static_cast<std::int32_t>(std::lround(value * kMiB / 100));
}

int Number(const std::string& text) {
    return static_cast<int>(LeadingNumber(text));
}

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string S(const QString& text) {
    return text.toStdString();
}

std::string EditorSetting(const char* name, const char* defaultValue) {
    return GetRegSetting(kAppName, "frmEditBackup", name, defaultValue);
}

QTime TimeOf(const DateTime& d) {
    return QTime(d.Hour(), d.Minute());
}

DateTime At(const QDate& date, const QTime& time) {
    return DateTime::FromParts(date.year(), date.month(), date.day(), time.hour(), time.minute())
        .value_or(DateTime());
}

// Members of a control array share one name and tell their place by "index";
// the layout file has to name them apart.
void NameArrayMembers(QWidget* form) {
    for (QWidget* w : form->findChildren<QWidget*>())
        if (w->property(kControlIndexProperty).isValid())
            w->setObjectName(w->objectName().section('_', 0, 0));
}

QButtonGroup* Group(QWidget* form, const char* name) {
    auto* group = new QButtonGroup(form);
    for (auto* b : form->findChildren<QAbstractButton*>(QString::fromLatin1(name)))
        group->addButton(b, b->property(kControlIndexProperty).toInt());
    return group;
}

} // namespace

frmEditBackup::frmEditBackup(const std::string& jobName, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::frmEditBackup>()) {
    InitUiResources();
    ui_->setupUi(this);
    NameArrayMembers(this);
    archiveType_ = Group(this, "optAT");
    destination_ = Group(this, "Option2");
    method_ = Group(this, "Option1");
    ui_->txtHourlyMin->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,2}")), this));
    FillLists();
    RefreshMasks();
    Connect();
    const int days = Number(EditorSetting("DaysComboIndex", "0"));
    ui_->cmbDays->setCurrentIndex(days >= 0 && days < kDayEntries ? days : 0);
    const int width = Number(EditorSetting("Width", "0"));
    const int height = Number(EditorSetting("Height", "0"));
    if (width > 0 && height > 0)
        setGeometry(Number(EditorSetting("Left", "0")), Number(EditorSetting("Top", "0")), width,
                    height);
    editing_ = jobName.empty() ? nullptr : FindBackup(jobName);
    ui_->cmdSaveBackup->setVisible(!editing_);
    ui_->cmdModify->setVisible(editing_ != nullptr);
    if (editing_) {
        WriteLog(GetMsg("strMsgModBackupParam", {{"%d", editing_->sName}}));
        Load(*editing_);
        return;
    }
    const int number = Number(GetRegSetting(kAppName, kGeneralSettings, "bkpIndex", "0")) + 1;
    SaveRegSetting(kAppName, kGeneralSettings, "bkpIndex", std::to_string(number));
    clsBackup fresh;
    fresh.sName = "New backup " + std::to_string(number);
    fresh.IncludeMask = "*.*";
    fresh.archived = true;
    Load(fresh);
    ui_->chkInclude->setChecked(true);
    ui_->txtBackupName->selectAll();
    ui_->txtBackupName->setFocus();
}

frmEditBackup::~frmEditBackup() = default;

bool frmEditBackup::MayEdit(const std::string& jobName, QWidget* parent) {
    const std::shared_ptr<clsBackup> job = FindBackup(jobName);
    return job && CheckJobPassword(*job, PasswordPurpose::Edit, [parent](const std::string& exp) {
               return frmPassword::Ask(exp, parent);
           });
}

void frmEditBackup::FillLists() {
    // The entries' texts follow the language; the choices stay.
    IniFile language;
    const bool translated = !gLanguageFile.empty() && language.Load(gLanguageFile);
    auto text = [&](const std::string& key, const std::string& english) {
        const std::string t = translated ? language.ReadString("frmEditBackup", key, "") : "";
        return Q(t.empty() ? english : t);
    };
    ui_->lvFiles->setHeaderLabels(
        {text("lvFiles.Column|0", "File or directory name"), text("lvFiles.Column|1", "Size")});
    // The path takes the room; the size column only what its numbers need.
    ui_->lvFiles->header()->setStretchLastSection(false);
    ui_->lvFiles->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    ui_->lvFiles->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    const int split = ui_->cmbsplit->currentIndex();
    const int day = ui_->cmbDays->currentIndex();
    ui_->cmbsplit->clear();
    for (std::size_t i = 0; i < std::size(kSplitValues); ++i)
        ui_->cmbsplit->addItem(text("cmbsplit.List|" + std::to_string(i), kSplitTexts[i]),
                               kSplitValues[i]);
    ui_->cmbDays->clear();
    for (int i = 0; i < kDayEntries; ++i)
        ui_->cmbDays->addItem(text("cmbDays.List|" + std::to_string(i), DayText(i)));
    ui_->cmbsplit->setCurrentIndex(split);
    ui_->cmbDays->setCurrentIndex(day);
}

void frmEditBackup::Connect() {
    connect(ui_->cmdSaveBackup, &QPushButton::clicked, this, &frmEditBackup::Save);
    connect(ui_->cmdModify, &QPushButton::clicked, this, &frmEditBackup::Save);
    connect(ui_->cmdCancelBackup, &QPushButton::clicked, this, &frmEditBackup::reject);
    connect(ui_->cmdHelp, &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(QUrl::fromLocalFile(Q(HelpFolder() + "/edit.html"))); });
    connect(ui_->cmdNeedWebHost, &QPushButton::clicked, this, [] { OpenMakerWebSite(); });
    connect(ui_->ftpBrowse, &QPushButton::clicked, this, [this] {
        frmBrowseFTP browser({S(ui_->txtIP->text()), Number(S(ui_->txtPort->text())),
                              S(ui_->txtUsername->text()), S(ui_->txtPassword->text()),
                              ui_->chkPassiveMode->isChecked()},
                             this);
        if (browser.Open() && browser.exec() == QDialog::Accepted)
            ui_->txtdestpath2->setText(Q(browser.ChosenFolder()));
    });
    connect(ui_->Command1, &QPushButton::clicked, this, [this] {
        const std::string folder = CurrentHost().PickFolder(GetMsg("strMsgSelectDestFolder"));
        if (!folder.empty())
            ui_->txtDestPath->setText(Q(folder));
    });
    connect(ui_->cmdAddFolder, &QPushButton::clicked, this, [this] {
        const std::string folder = CurrentHost().PickFolder(GetMsg("strMsgSelectFolderToBackup"));
        if (!folder.empty())
            AddSource(folder, 1, 0);
    });
    connect(ui_->cmdAddFile, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this);
        if (!file.isEmpty())
            AddSource(S(file), 0, static_cast<double>(QFileInfo(file).size()));
    });
    connect(ui_->cmdDeleteFile, &QPushButton::clicked, this, [this] {
        if (ui_->lvFiles->currentItem() == nullptr)
            return Refuse(GetMsg("strMsgNoDirSelected"));
        delete ui_->lvFiles->currentItem();
    });
    connect(ui_->cmbIncludeMask->lineEdit(), &QLineEdit::editingFinished, this,
            [this] { StoreMask(ui_->cmbIncludeMask, "imask"); });
    connect(ui_->cmbExcludeMask->lineEdit(), &QLineEdit::editingFinished, this,
            [this] { StoreMask(ui_->cmbExcludeMask, "emask"); });
    connect(archiveType_, &QButtonGroup::idClicked, this, &frmEditBackup::ArchiveTypeChosen);
    connect(destination_, &QButtonGroup::idClicked, this, &frmEditBackup::DestinationChosen);
    connect(method_, &QButtonGroup::idClicked, this, &frmEditBackup::ScheduleChosen);
    connect(ui_->chkEveryDay, &QCheckBox::clicked, this, &frmEditBackup::EveryDayClicked);
    for (auto* day : findChildren<QCheckBox*>(QStringLiteral("chkdays")))
        connect(day, &QCheckBox::clicked, this, &frmEditBackup::DayClicked);
    connect(ui_->txtHourlyMin, &QLineEdit::textEdited, this, &frmEditBackup::MinuteTyped);
    connect(ui_->UpDown1, &QScrollBar::valueChanged, this, &frmEditBackup::MinuteStepped);
    connect(ui_->chkEnableSchedule, &QCheckBox::toggled, this, [this](bool on) {
        for (QWidget* w :
             std::initializer_list<QWidget*>{(ui_->fraMethod), ui_->fraHourly, ui_->fraDaily,
                                             ui_->fraMonthly, ui_->dtHour, ui_->dtStart})
            w->setEnabled(on);
    });
}

void frmEditBackup::AddSource(const std::string& path, int fileOrFolder, double size) {
    for (int i = 0; i < ui_->lvFiles->topLevelItemCount(); ++i)
        if (S(ui_->lvFiles->topLevelItem(i)->text(0)) == path)
            return Refuse(GetMsg("strMsgFileAlreadyAdded"));
    auto* row = new QTreeWidgetItem(ui_->lvFiles, {Q(path)});
    row->setData(0, Qt::UserRole, fileOrFolder);
    row->setData(1, Qt::UserRole, size);
    if (fileOrFolder == 0)
        row->setText(1, QLocale().formattedDataSize(static_cast<qint64>(size)));
}

void frmEditBackup::Load(const clsBackup& job) {
    ui_->txtBackupName->setText(Q(job.sName));
    ui_->lvFiles->clear();
    for (const clsBackupFile& f : job.Files)
        AddSource(f.sPath, f.bForD, f.dSize);
    const bool include = !job.IncludeMask.empty() && job.IncludeMask != "*.*";
    ui_->chkInclude->setChecked(include);
    ui_->cmbIncludeMask->setCurrentText(Q(job.IncludeMask.empty() ? "*.*" : job.IncludeMask));
    ui_->chkExclude->setChecked(!job.ExcludeMask.empty());
    ui_->cmbExcludeMask->setCurrentText(Q(job.ExcludeMask));
    archiveIndex_ = !job.archived ? 0 : job.splitSize > 0 ? 2 : 1;
    archiveType_->button(archiveIndex_)->setChecked(true);
    ui_->cmbsplit->setCurrentIndex(-1);
    for (int i = 0; i < ui_->cmbsplit->count(); ++i)
        if (SplitBytes(ui_->cmbsplit->itemData(i).toInt()) == job.splitSize)
            ui_->cmbsplit->setCurrentIndex(i);
    ui_->chkCompress->setChecked(job.bZipped);
    (job.bIncremental ? ui_->OptIncr : ui_->optFull)->setChecked(true);
    ui_->chkPassword->setChecked(job.Protected);
    ui_->txtPass1->setText(Q(job.password));
    ui_->txtPass2->setText(Q(job.password));
    const clsTidevault ftp = job.objDestination.value_or(
        clsTidevault{"127.0.0.1", 21, "anonymous", kAnonymousPassword, true, ""}); // NOLINT
    destination_->button(job.destFTP ? 0 : 1)->setChecked(true);
    ui_->txtDestPath->setText(job.destFTP ? QString() : Q(job.sDestinationDir));
    ui_->txtIP->setText(Q(ftp.hostname));
    ui_->txtPort->setText(QString::number(ftp.port));
    ui_->txtUsername->setText(Q(ftp.username));
    ui_->txtPassword->setText(Q(ftp.password));
    ui_->chkPassiveMode->setChecked(ftp.bPassiveMode.value_or(false));
    ui_->txtdestpath2->setText(job.destFTP ? Q(job.sDestinationDir) : QString());
    const clsSchedule s = job.Schedule.value_or(clsSchedule{});
    ui_->chkEnableSchedule->setChecked(job.Schedule.has_value());
    emit ui_->chkEnableSchedule->toggled(job.Schedule.has_value());
    const int method = s.Tip >= kScheduleHourly && s.Tip <= kScheduleOnce ? s.Tip - 1 : 1;
    method_->button(method)->setChecked(true);
    ScheduleChosen(method);
    const QDate today = QDate::currentDate();
    ui_->dtStart->setDate(job.Schedule ? QDate(s.start.Year(), s.start.Month(), s.start.Day())
                                       : today);
    MinuteStepped(s.Tip == kScheduleHourly ? s.Data : 0);
    for (auto* day : findChildren<QCheckBox*>(QStringLiteral("chkdays"))) {
        const int bit = 1 << (kDaysInWeek - 1 - day->property(kControlIndexProperty).toInt());
        day->setChecked(s.Tip == kScheduleDaily && (s.Data & bit) != 0);
    }
    DayClicked();
    if (s.Tip == kScheduleMonthly)
        ui_->cmbDays->setCurrentIndex(s.Data);
    ui_->dtDailyHour->setTime(TimeOf(s.StartHour));
    ui_->dtMonthlyHour->setTime(TimeOf(s.StartHour));
    ui_->dtHour->setTime(s.Tip == kScheduleOnce ? TimeOf(s.start) : QTime(0, 0));
    ArchiveTypeChosen(archiveIndex_);
    DestinationChosen(job.destFTP ? 0 : 1);
}

void frmEditBackup::Collect(clsBackup& job) const {
    job.sName = S(ui_->txtBackupName->text());
    job.ResetFiles();
    for (int i = 0; i < ui_->lvFiles->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = ui_->lvFiles->topLevelItem(i);
        clsBackupFile entry;
        entry.sPath = S(row->text(0));
        entry.bForD = row->data(0, Qt::UserRole).toInt();
        entry.dSize = row->data(1, Qt::UserRole).toDouble();
        job.AddFile(entry);
    }
    const std::string include = TrimBlanks(S(ui_->cmbIncludeMask->currentText()));
    job.IncludeMask = ui_->chkInclude->isChecked() && !include.empty() ? include : "*.*";
    const std::string exclude = TrimBlanks(S(ui_->cmbExcludeMask->currentText()));
    job.ExcludeMask = ui_->chkExclude->isChecked() ? exclude : std::string();
    const int type = archiveType_->checkedId();
    job.archived = type != 0;
    job.bZipped = type != 0 && ui_->chkCompress->isChecked();
    job.splitSize = 0;
    if (type == 2)
        job.splitSize = ui_->cmbsplit->currentIndex() < 0
                            ? kDefaultSplit
                            : SplitBytes(ui_->cmbsplit->currentData().toInt());
    job.bIncremental = ui_->OptIncr->isChecked();
    job.Protected = type != 0 && ui_->chkPassword->isChecked() && !ui_->txtPass1->text().isEmpty();
    job.password = job.Protected ? S(ui_->txtPass1->text()) : std::string();
    job.destFTP = destination_->checkedId() == 0;
    job.objDestination.reset();
    if (job.destFTP) {
        job.objDestination = clsTidevault{S(ui_->txtIP->text()),
                                          Number(S(ui_->txtPort->text())),
                                          S(ui_->txtUsername->text()),
                                          S(ui_->txtPassword->text()),
                                          ui_->chkPassiveMode->isChecked(),
                                          S(ui_->txtdestpath2->text())};
        job.sDestinationDir = S(ui_->txtdestpath2->text());
    } else {
        job.sDestinationDir = S(ui_->txtDestPath->text());
    }
    job.Schedule.reset();
    if (!ui_->chkEnableSchedule->isChecked())
        return;
    clsSchedule s;
    s.enabled = true;
    s.Tip = static_cast<std::uint8_t>(method_->checkedId() + 1);
    const QDate start = ui_->dtStart->date();
    s.start = At(start, QTime(0, 0));
    if (s.Tip == kScheduleHourly) {
        s.Data = static_cast<std::uint8_t>(Number(S(ui_->txtHourlyMin->text())));
    } else if (s.Tip == kScheduleDaily) {
        for (auto* day : findChildren<QCheckBox*>(QStringLiteral("chkdays")))
            if (day->isChecked())
                s.Data |= 1 << (kDaysInWeek - 1 - day->property(kControlIndexProperty).toInt());
        s.StartHour = At(QDate(1899, 12, 30), ui_->dtDailyHour->time()); // NOLINT
    } else if (s.Tip == kScheduleMonthly) {
        s.Data = static_cast<std::uint8_t>(ui_->cmbDays->currentIndex());
        s.StartHour = At(QDate(1899, 12, 30), ui_->dtMonthlyHour->time()); // NOLINT
    } else {
        s.start = At(start, ui_->dtHour->time());
        s.StartHour = At(QDate(1899, 12, 30), ui_->dtHour->time()); // NOLINT
    }
    job.Schedule = s;
}

void frmEditBackup::Refuse(const std::string& text, QWidget* focus) {
    CurrentHost().MessageBox(text, MsgButtons::Ok, MsgIcon::Critical);
    if (focus != nullptr)
        focus->setFocus();
}

bool frmEditBackup::Save() {
    QString typed = ui_->txtBackupName->text();
    ui_->txtBackupName->setText(typed.remove('-'));
    const std::string name = S(typed);
    if (const std::string problem = JobNameProblem(name); !problem.empty())
        return Refuse(GetMsg(problem), ui_->txtBackupName), false;
    for (const auto& other : gBackups)
        if (other != editing_ && EqualsIgnoreCase(TrimBlanks(other->sName), TrimBlanks(name)))
            return Refuse(GetMsg("strMsgBackupNameExists"), ui_->txtBackupName), false;
    if (destination_->checkedId() == 1 && !FolderExists(S(ui_->txtDestPath->text())))
        return Refuse(GetMsg("strMsgDestDirNotExists"), ui_->txtDestPath), false;
    if (ui_->lvFiles->topLevelItemCount() == 0)
        return Refuse(GetMsg("strMsgNoSrcToBackup"), ui_->lvFiles), false;
    // Saving unprotected instead would expose what the user meant to hide.
    if (archiveType_->checkedId() != 0 && ui_->chkPassword->isChecked() &&
        ui_->txtPass1->text() != ui_->txtPass2->text())
        return Refuse(GetMsg("strMsgPasswordsDiffer"), ui_->txtPass2), false;
    clsBackup job = editing_ ? *editing_ : clsBackup{};
    Collect(job);
    if (const std::string source = DestinationInsideSource(job); !source.empty())
        return Refuse(
                   GetMsg("strMsgDestInsideSource", {{"%d", job.sDestinationDir}, {"%s", source}}),
                   ui_->txtDestPath),
               false;
    if (editing_ && !KeepIndexIfAsked(*editing_, job))
        return false;
    if (editing_)
        *editing_ = job;
    else
        gBackups.push_back(std::make_shared<clsBackup>(job));
    SaveBackups();
    savedName_ = job.sName;
    done(Accepted);
    return true;
}

bool frmEditBackup::KeepIndexIfAsked(const clsBackup& before, const clsBackup& after) {
    if (!ChangeNeedsNewSet(before, after) || !HasBackups(before))
        return true;
    if (CurrentHost().MessageBox(GetMsg("strMsgAskNewSet", {{"%d", before.sName}}),
                                 MsgButtons::YesNo, MsgIcon::Question) != MsgAnswer::Yes)
        return false;
    std::string kept;
    std::string why;
    if (!KeepEarlierIndex(before, kept, why)) {
        Refuse(GetMsg("strMsgKeepIndexFailed", {{"%d", before.sName + ".fs"}, {"%e", why}}));
        return false;
    }
    if (!kept.empty())
        WriteLog(GetMsg("strMsgEarlierIndexKept", {{"%d", before.sName + ".fs"}, {"%n", kept}}));
    return true;
}

void frmEditBackup::RefreshMasks() {
    for (auto [box, kind] :
         {std::pair{ui_->cmbIncludeMask, "imask"}, std::pair{ui_->cmbExcludeMask, "emask"}}) {
        const QString text = box->currentText();
        box->clear();
        for (int slot = 1; slot <= kMaskSlots; ++slot) {
            const std::string mask = GetRegSetting(
                kAppName, kMasks, kind + std::string(slot < 10 ? "0" : "") + std::to_string(slot));
            if (!mask.empty())
                box->addItem(Q(mask));
        }
        box->setCurrentText(text);
    }
}

void frmEditBackup::StoreMask(QComboBox* box, const char* kind) {
    const QString text = box->currentText();
    if (text.isEmpty() || box->findText(text) >= 0)
        return;
    for (int slot = 1; slot <= kMaskSlots; ++slot) {
        const std::string key = kind + std::string(slot < 10 ? "0" : "") + std::to_string(slot);
        if (GetRegSetting(kAppName, kMasks, key).empty()) {
            SaveRegSetting(kAppName, kMasks, key, S(text));
            break;
        }
    }
    RefreshMasks();
}

void frmEditBackup::ArchiveTypeChosen(int index) {
    if (index == 0 && destination_->checkedId() == 0) {
        archiveType_->button(archiveIndex_)->setChecked(true);
        CurrentHost().MessageBox(GetMsg("strMsgCantUseThisOptWithFTP"), MsgButtons::Ok,
                                 MsgIcon::Information);
        return;
    }
    archiveIndex_ = index;
    ui_->lblSplit->setVisible(index == 2);
    ui_->cmbsplit->setVisible(index == 2);
    for (QWidget* w :
         std::initializer_list<QWidget*>{(ui_->chkCompress), ui_->fraPassword, ui_->chkPassword})
        w->setVisible(index != 0);
}

void frmEditBackup::DestinationChosen(int index) {
    // A plain copy cannot be delivered to an FTP server either way round.
    if (index == 0 && archiveType_->checkedId() == 0) {
        destination_->button(1)->setChecked(true);
        CurrentHost().MessageBox(GetMsg("strMsgCantUseThisOptWithFTP"), MsgButtons::Ok,
                                 MsgIcon::Information);
        index = 1;
    }
    ui_->ftpFrame->setVisible(index == 0);
    ui_->txtDestPath->setVisible(index != 0);
    ui_->Command1->setVisible(index != 0);
}

void frmEditBackup::ScheduleChosen(int index) {
    ui_->fraHourly->setVisible(index == 0);
    ui_->fraDaily->setVisible(index == 1);
    ui_->fraMonthly->setVisible(index == 2);
}

void frmEditBackup::EveryDayClicked() {
    if (ui_->chkEveryDay->checkState() == Qt::PartiallyChecked)
        ui_->chkEveryDay->setCheckState(Qt::Checked);
    for (auto* day : findChildren<QCheckBox*>(QStringLiteral("chkdays")))
        day->setChecked(ui_->chkEveryDay->isChecked());
}

void frmEditBackup::DayClicked() {
    int checked = 0;
    for (auto* day : findChildren<QCheckBox*>(QStringLiteral("chkdays")))
        checked += day->isChecked() ? 1 : 0;
    ui_->chkEveryDay->setCheckState(checked == kDaysInWeek ? Qt::Checked
                                    : checked == 0         ? Qt::Unchecked
                                                           : Qt::PartiallyChecked);
}

void frmEditBackup::MinuteTyped(const QString& text) {
    const QSignalBlocker hold(ui_->UpDown1);
    ui_->UpDown1->setValue(std::min(text.toInt(), kLastMinute));
}

void frmEditBackup::MinuteStepped(int value) {
    // The arrows run one past either end; there they wrap round the hour.
    const int minute = value < 0 ? kLastMinute : value > kLastMinute ? 0 : value;
    const QSignalBlocker hold(ui_->UpDown1);
    ui_->UpDown1->setValue(minute);
    ui_->txtHourlyMin->setText(QString::number(minute));
}

void frmEditBackup::reject() {
    const int number = Number(GetRegSetting(kAppName, kGeneralSettings, "bkpIndex", "0"));
    SaveRegSetting(kAppName, kGeneralSettings, "bkpIndex", std::to_string(number - 1));
    QDialog::reject();
}

void frmEditBackup::done(int result) {
    const QRect g = geometry();
    for (auto [name, value] : {std::pair{"Left", g.x()}, std::pair{"Top", g.y()},
                               std::pair{"Width", g.width()}, std::pair{"Height", g.height()},
                               std::pair{"DaysComboIndex", ui_->cmbDays->currentIndex()}})
        SaveRegSetting(kAppName, "frmEditBackup", name, std::to_string(value));
    QDialog::done(result);
}

void frmEditBackup::showEvent(QShowEvent* event) {
    ApplyLanguage(this);
    FillLists();
    QDialog::showEvent(event);
}
