#include "ui/frmBrowseRestoreList.h"

#include "core/Globals.h"
#include "core/Registry.h"
#include "core/host.h"
#include "engine/DestinationFiles.h"
#include "engine/RestoreRun.h"
#include "engine/Startup.h"
#include "i18n/Catalogue.h"
#include "i18n/FormatSize.h"
#include "platform/IniFile.h"
#include "ui/ApplyLanguage.h"
#include "ui/DesktopHost.h"
#include "ui/RestoreModels.h"
#include "ui_frmBrowseRestoreList.h"

#include <QActionGroup>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

#include <sys/stat.h>

namespace {

constexpr const char* kSection = "frmBrowseRestoreList";
// Beyond this many shown entries a filter opens only the sessions.
constexpr std::size_t kExpandAllLimit = 2000;
constexpr int kLargeIcon = 32;
constexpr int kSmallIcon = 16;
constexpr int kTreeWidth = 300;
constexpr int kColumnWidth = 170;
constexpr int kNameWidth = 240;

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// The window's own texts that ApplyLanguage cannot reach; `fallback` when the
// language file has none.
QString WindowText(const IniFile* file, const std::string& key, const char* fallback) {
    const std::string text = file != nullptr ? file->ReadString(kSection, key) : std::string();
    return text.empty() ? QString::fromUtf8(fallback) : Text(text);
}

const char* const kColumnCaptions[] = {"Name", "Size", "Start volume", "End volume",
                                       "Last written"};

struct ModeCommand {
    const char* name;
    const char* text;
};
const ModeCommand kModeCommands[frmBrowseRestoreList::kDisplayModes] = {
    {"mniLargeIcons", "&Large icons"},
    {"mniSmallIcons", "&Small icons"},
    {"mniList", "L&ist"},
    {"mniDetails", "&Details"},
};

bool PathTaken(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

class BusyPointer {
public:
    BusyPointer() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyPointer() { QGuiApplication::restoreOverrideCursor(); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
};

} // namespace

frmBrowseRestoreList::frmBrowseRestoreList(std::shared_ptr<clsBackup> job, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::frmBrowseRestoreList>()), job_(std::move(job)),
      destination_(std::make_unique<DestinationFiles>(*job_)) {
    InitUiResources();
    ui_->setupUi(this);
    BuildToolbar();
    sbStatusBar_ = new QStatusBar(this);
    sbStatusBar_->setObjectName(QStringLiteral("sbStatusBar"));
    statusText_ = new QLabel(sbStatusBar_);
    sbStatusBar_->addWidget(statusText_, 1);
    ui_->mainLayout->addWidget(sbStatusBar_);
    ui_->mainLayout->setStretchFactor(ui_->imgSplitter, 1);
    ui_->imgSplitter->setSizes({kTreeWidth, width() - kTreeWidth});

    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(ui_->lvListView),
                                    static_cast<QAbstractItemView*>(ui_->lvIconView)}) {
        connect(view, &QAbstractItemView::doubleClicked, this, &frmBrowseRestoreList::OpenListItem);
        view->installEventFilter(this);
    }
    QHeaderView* header = ui_->lvListView->header();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    header->setStretchLastSection(false);
    header->setDefaultSectionSize(kColumnWidth);
    connect(header, &QHeaderView::sectionClicked, this, &frmBrowseRestoreList::SortBy);
    connect(ui_->txtFilter, &QLineEdit::textChanged, this, &frmBrowseRestoreList::Filter);
    RestorePlace();
    SetDisplayMode(displayMode_);
    ApplyTexts();
}

frmBrowseRestoreList::~frmBrowseRestoreList() {
    // The views let go of the models before the records they show are freed.
    delete listModel_;
    delete treeModel_;
    marks_.reset();
    tree_.reset();
    gRestoreList.clear();
    gRestoreList.shrink_to_fit();
    gRestoreJob.reset();
}

void frmBrowseRestoreList::Open(const std::shared_ptr<clsBackup>& job, QWidget* parent) {
    frmBrowseRestoreList browser(job, parent);
    if (browser.LoadList())
        browser.exec();
}

void frmBrowseRestoreList::BuildToolbar() {
    tbToolbar_ = new QToolBar(this);
    tbToolbar_->setObjectName(QStringLiteral("tbToolbar"));
    tbToolbar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    auto command = [this](const char* key, const char* text, const char* picture) {
        QAction* action = tbToolbar_->addAction(
            QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(picture))),
            QString::fromUtf8(text));
        action->setObjectName(QLatin1String(key));
        return action;
    };
    connect(command("keyRestoreFiles", "&Restore", "restore"), &QAction::triggered, this,
            &frmBrowseRestoreList::RestoreChecked);
    QAction* view = command("keyView", "&View", "file");
    auto* modes = new QMenu(this);
    modes->setObjectName(QStringLiteral("mnuView"));
    auto* group = new QActionGroup(modes);
    for (int mode = 0; mode < kDisplayModes; ++mode) {
        QAction* entry = modes->addAction(QString::fromUtf8(kModeCommands[mode].text));
        entry->setObjectName(QLatin1String(kModeCommands[mode].name));
        entry->setCheckable(true);
        entry->setActionGroup(group);
        connect(entry, &QAction::triggered, this, [this, mode] { SetDisplayMode(mode); });
    }
    view->setMenu(modes);
    if (auto* button = qobject_cast<QToolButton*>(tbToolbar_->widgetForAction(view))) {
        button->setPopupMode(QToolButton::InstantPopup);
        // Its mnemonic opens the menu, as a click does.
        connect(view, &QAction::triggered, button, &QToolButton::showMenu);
    }
    tbToolbar_->addSeparator();
    connect(command("keyClose", "&Close", "quit"), &QAction::triggered, this, &QDialog::reject);
    ui_->mainLayout->insertWidget(0, tbToolbar_);
}

void frmBrowseRestoreList::ApplyTexts() {
    ApplyLanguage(this);
    IniFile file;
    const IniFile* texts = !gLanguageFile.empty() && file.Load(gLanguageFile) ? &file : nullptr;
    ui_->txtFilter->setPlaceholderText(
        WindowText(texts, "txtFilter.PlaceholderText", "Part of a file or folder name"));
    // Toolbar buttons show no mnemonics: their captions' letters become shortcuts.
    for (QAction* action : tbToolbar_->actions()) {
        action->setShortcut(QKeySequence::mnemonic(action->text()));
        const std::string key = action->objectName().toStdString();
        if (const QString tip = WindowText(texts, key + ".ToolTipText", ""); !tip.isEmpty())
            action->setToolTip(tip);
    }
    if (listModel_ != nullptr) {
        QStringList captions;
        for (int i = 0; i < RestoreListModel::Columns; ++i)
            captions << WindowText(texts, "lvListView|" + std::to_string(i), kColumnCaptions[i]);
        listModel_->captions = captions;
        emit listModel_->headerDataChanged(Qt::Horizontal, 0, RestoreListModel::Columns - 1);
    }
    UpdateStatus();
}

bool frmBrowseRestoreList::LoadList() {
    std::string why;
    bool loaded = false;
    {
        BusyPointer busy;
        loaded = LoadRestoreList(*destination_, job_->sName, &why);
    }
    if (!loaded) {
        Host& host = CurrentHost();
        if (why == GetMsg("strMsgRestoreDeclined"))
            return false; // the user said no to the download
        if (job_->enumStatus == kStatusNeverRun)
            host.MessageBox(GetMsg("strMsgNoBackupsYet", "%d", job_->sName), MsgButtons::Ok,
                            MsgIcon::Information);
        else if (why == GetMsg("strMsgCantConnectToFTP"))
            host.MessageBox(why, MsgButtons::Ok, MsgIcon::Critical);
        else
            host.MessageBox(GetMsg("strMsgCantCreateRestList") + "\n" + why, MsgButtons::Ok,
                            MsgIcon::Critical);
        return false;
    }
    tree_ = std::make_unique<RestoreTree>(gRestoreList);
    marks_ = std::make_unique<RestoreMarks>(*tree_);
    treeModel_ = new RestoreTreeModel(*marks_, gRestoreList, this);
    listModel_ = new RestoreListModel(*treeModel_, *marks_, gRestoreList, this);
    ui_->tvTreeView->setModel(treeModel_);
    ui_->lvListView->setModel(listModel_);
    ui_->lvIconView->setModel(listModel_);
    ui_->lvIconView->setSelectionModel(ui_->lvListView->selectionModel());
    ui_->lvListView->header()->resizeSection(RestoreListModel::Name, kNameWidth);
    ui_->lvListView->header()->resizeSection(RestoreListModel::Size, kColumnWidth / 2);
    connect(ui_->tvTreeView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                listModel_->Show(RestoreTreeModel::NodeOf(current));
            });
    connect(treeModel_, &RestoreTreeModel::Checked, this, [this] {
        // One repaint of what is in sight, however many marks changed below.
        ui_->tvTreeView->viewport()->update();
        listModel_->MarksChanged();
        UpdateStatus();
    });
    ApplyTexts();
    // The newest session first: that is where most restores start.
    if (!tree_->Roots().empty()) {
        const std::int32_t newest = tree_->Roots().back();
        ui_->tvTreeView->expand(treeModel_->IndexOf(newest));
        ShowNode(newest);
    }
    return true;
}

void frmBrowseRestoreList::ShowNode(std::int32_t node) {
    const QModelIndex index = treeModel_ != nullptr ? treeModel_->IndexOf(node) : QModelIndex();
    if (!index.isValid())
        return;
    if (ui_->tvTreeView->currentIndex() == index)
        listModel_->Show(node);
    else
        ui_->tvTreeView->setCurrentIndex(index);
    ui_->tvTreeView->scrollTo(index);
}

std::int32_t frmBrowseRestoreList::ShownNode() const {
    return listModel_ != nullptr ? listModel_->Current() : -1;
}

void frmBrowseRestoreList::OpenListItem(const QModelIndex& index) {
    if (!index.isValid())
        return;
    const auto node = static_cast<std::int32_t>(index.internalId());
    if (!tree_->Node(node).IsFile())
        ShowNode(node);
}

void frmBrowseRestoreList::ShowParent() {
    const std::int32_t node = ShownNode();
    if (node >= 0 && tree_->Node(node).parent >= 0)
        ShowNode(tree_->Node(node).parent);
}

bool frmBrowseRestoreList::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Backspace) {
        ShowParent();
        return true;
    }
    // Enter opens a folder as a double click does (and closes no dialog).
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        OpenListItem(static_cast<QAbstractItemView*>(watched)->currentIndex());
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void frmBrowseRestoreList::SortBy(int column) {
    if (listModel_ == nullptr)
        return;
    const Qt::SortOrder order =
        listModel_->SortColumn() == column && listModel_->Order() == Qt::AscendingOrder
            ? Qt::DescendingOrder
            : Qt::AscendingOrder;
    listModel_->sort(column, order);
    ui_->lvListView->header()->setSortIndicatorShown(true);
    ui_->lvListView->header()->setSortIndicator(column, order);
}

void frmBrowseRestoreList::SetDisplayMode(int mode) {
    if (mode < 0 || mode >= kDisplayModes)
        return;
    displayMode_ = mode;
    QListView* icons = ui_->lvIconView;
    if (mode == 3) {
        ui_->lvStack->setCurrentWidget(ui_->lvListView);
    } else {
        icons->setViewMode(mode == 0 ? QListView::IconMode : QListView::ListMode);
        icons->setFlow(mode == 2 ? QListView::TopToBottom : QListView::LeftToRight);
        icons->setWrapping(true);
        icons->setIconSize(
            QSize(mode == 0 ? kLargeIcon : kSmallIcon, mode == 0 ? kLargeIcon : kSmallIcon));
        icons->setGridSize(mode == 0 ? QSize(kLargeIcon * 4, kLargeIcon * 5 / 2) : QSize());
        icons->setWordWrap(mode == 0);
        icons->setSpacing(mode == 0 ? 0 : kSmallIcon / 2);
        ui_->lvStack->setCurrentWidget(icons);
    }
    for (QAction* entry : findChildren<QAction*>())
        if (entry->objectName() == QLatin1String(kModeCommands[mode].name))
            entry->setChecked(true);
}

void frmBrowseRestoreList::Filter(const QString& text) {
    if (treeModel_ == nullptr)
        return;
    BusyPointer busy;
    const std::int32_t shown = ShownNode();
    QTreeView* tree = ui_->tvTreeView;
    tree->setUpdatesEnabled(false);
    treeModel_->FilterChanged(text);
    if (marks_->Filtering() && marks_->ShownCount() <= kExpandAllLimit)
        tree->expandAll();
    else
        tree->expandToDepth(0);
    tree->setUpdatesEnabled(true);
    // Back to the entry shown before when the filter keeps it; otherwise the
    // folder of the first match in the newest session.
    std::int32_t next = shown >= 0 && marks_->Shown(shown) ? shown : -1;
    if (next < 0 && !marks_->Children(-1).empty()) {
        next = marks_->Children(-1).back();
        while (marks_->Filtering() && !marks_->Children(next).empty() &&
               !tree_->Node(marks_->Children(next).front()).IsFile())
            next = marks_->Children(next).front();
    }
    listModel_->Show(-1);
    ShowNode(next);
    UpdateStatus();
}

void frmBrowseRestoreList::UpdateStatus() {
    if (marks_ == nullptr)
        return;
    if (marks_->Filtering() && marks_->Children(-1).empty()) {
        statusText_->setText(Text(
            GetMsg("strMsgRestoreNoMatch", "%d", ui_->txtFilter->text().trimmed().toStdString())));
        return;
    }
    std::int64_t bytes = 0;
    const std::vector<std::int64_t> checked = marks_->CheckedRecords();
    for (const std::int64_t record : checked)
        bytes += gRestoreList[record].size;
    statusText_->setText(
        Text(GetMsg("strMsgRestoreChecked",
                    {{"%n", std::to_string(checked.size())}, {"%s", FormatSize(bytes)}})));
}

void frmBrowseRestoreList::RestoreChecked() {
    if (marks_ == nullptr)
        return;
    std::vector<clsRestoreFileData> records;
    for (const std::int64_t record : marks_->CheckedRecords())
        records.push_back(gRestoreList[record]);
    Host& host = CurrentHost();
    if (records.empty()) {
        host.MessageBox(GetMsg("strMsgNoFilesToRestore"), MsgButtons::Ok, MsgIcon::Critical);
        return;
    }
    // The questions and the progress window belong to this window while it is
    // modal: parented to the main window, pause and cancel could not be reached.
    auto* desktop = dynamic_cast<DesktopHost*>(&host);
    QWidget* mainWindow = desktop != nullptr ? desktop->mainWindow : nullptr;
    if (desktop != nullptr)
        desktop->mainWindow = this;
    const std::optional<RestoreTarget> target = AskRestoreTarget();
    if (target && LeaveOutExisting(records, *target))
        RestoreFiles(*destination_, *job_, records, *target);
    if (desktop != nullptr)
        desktop->mainWindow = mainWindow;
}

bool frmBrowseRestoreList::LeaveOutExisting(std::vector<clsRestoreFileData>& records,
                                            const RestoreTarget& target) {
    std::vector<bool> taken(records.size(), false);
    std::size_t count = 0;
    std::string first;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::string path = RestorePathFor(records[i], target);
        if (!path.empty() && PathTaken(path)) {
            taken[i] = true;
            if (count++ == 0)
                first = path;
        }
    }
    if (count == 0)
        return true;
    // One question for all of them: a restore of a whole folder must not ask per file.
    Host& host = CurrentHost();
    const MsgAnswer answer = host.MessageBox(
        GetMsg("strMsgRestoreExisting", {{"%n", std::to_string(count)}, {"%d", first}}),
        MsgButtons::YesNoCancel, MsgIcon::Question);
    if (answer == MsgAnswer::Yes)
        return true;
    if (answer != MsgAnswer::No)
        return false;
    std::vector<clsRestoreFileData> kept;
    for (std::size_t i = 0; i < records.size(); ++i)
        if (!taken[i])
            kept.push_back(std::move(records[i]));
    records = std::move(kept);
    if (records.empty()) {
        host.MessageBox(GetMsg("strMsgRestoreAllKept"), MsgButtons::Ok, MsgIcon::Information);
        return false;
    }
    return true;
}

void frmBrowseRestoreList::SavePlace() const {
    SaveRegSetting(kAppName, kSection, "Geometry", saveGeometry().toBase64().toStdString());
    SaveRegSetting(kAppName, kSection, "Splitter",
                   ui_->imgSplitter->saveState().toBase64().toStdString());
    SaveRegSetting(kAppName, kSection, "View", std::to_string(displayMode_));
}

void frmBrowseRestoreList::RestorePlace() {
    auto stored = [](const char* name) {
        return QByteArray::fromBase64(
            QByteArray::fromStdString(GetRegSetting(kAppName, kSection, name)));
    };
    if (const QByteArray geometry = stored("Geometry"); !geometry.isEmpty())
        restoreGeometry(geometry);
    if (const QByteArray splitter = stored("Splitter"); !splitter.isEmpty())
        ui_->imgSplitter->restoreState(splitter);
    const std::string view = GetRegSetting(kAppName, kSection, "View", "3");
    displayMode_ =
        view.size() == 1 && view[0] >= '0' && view[0] < '0' + kDisplayModes ? view[0] - '0' : 3;
}

void frmBrowseRestoreList::done(int result) {
    SavePlace();
    // The connection ends with the window, not when the window object goes.
    destination_->Close();
    QDialog::done(result);
}

void frmBrowseRestoreList::showEvent(QShowEvent* event) {
    ApplyTexts();
    QDialog::showEvent(event);
}

void frmBrowseRestoreList::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        ApplyTexts();
    QDialog::changeEvent(event);
}
