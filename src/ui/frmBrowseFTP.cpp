#include "ui/frmBrowseFTP.h"

#include "core/ActivityLog.h"
#include "core/Registry.h"
#include "core/host.h"
#include "engine/Startup.h"
#include "i18n/Catalogue.h"
#include "platform/TextConvert.h"
#include "platform/TextUtil.h"
#include "ui/ApplyLanguage.h"
#include "ui_frmBrowseFTP.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTreeWidget>

#include <algorithm>
#include <set>

namespace {

constexpr const char* kSection = "frmBrowseFTP";

// What a node stands for, kept in kKindRole; its remote path in kPathRole.
enum NodeKind { kPlaceholder, kRoot, kFolder, kFile };
constexpr int kPathRole = Qt::UserRole;
constexpr int kKindRole = Qt::UserRole + 1;

// The window's pictures: a closed and an open folder, the server, a file.
QIcon Picture(NodeKind kind, bool open) {
    switch (kind) {
    case kRoot:
        return QIcon(QStringLiteral(":/icons/ftp.svg"));
    case kFolder:
        return QIcon(open ? QStringLiteral(":/icons/folder-open.svg")
                          : QStringLiteral(":/icons/folder.svg"));
    case kFile:
        return QIcon(QStringLiteral(":/icons/file.svg"));
    default:
        return QIcon();
    }
}

NodeKind KindOf(const QTreeWidgetItem* node) {
    return static_cast<NodeKind>(node->data(0, kKindRole).toInt());
}

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

int Number(const std::string& text) {
    return static_cast<int>(LeadingNumber(text));
}

std::string Folded(std::string path) {
    return ReplaceAll(ReplaceAll(path, "//", "/"), "//", "/");
}

// Every folder gets an expand box before its contents are known.
void AddPlaceholder(QTreeWidgetItem* folder) {
    auto* placeholder = new QTreeWidgetItem(folder);
    placeholder->setText(0, folder->parent() && !folder->parent()->parent() ? ".." : "-");
    placeholder->setData(0, kKindRole, kPlaceholder);
}

// The hourglass while the server is asked; the window keeps painting.
struct BusyPointer {
    explicit BusyPointer(bool& busy) : busy_(busy) {
        busy_ = true;
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~BusyPointer() {
        QApplication::restoreOverrideCursor();
        busy_ = false;
    }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
    bool& busy_;
};

} // namespace

frmBrowseFTP::frmBrowseFTP(FtpAccount account, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::frmBrowseFTP>()), account_(std::move(account)) {
    ui_->setupUi(this);
    ui_->dGraphicButton3->setEnabled(false);
    ui_->TreeView1->installEventFilter(this);
    ui_->Text1->installEventFilter(this);
    connect(ui_->TreeView1, &QTreeWidget::itemExpanded, this, &frmBrowseFTP::Expanded);
    connect(ui_->TreeView1, &QTreeWidget::itemCollapsed, this, &frmBrowseFTP::Collapsed);
    connect(ui_->TreeView1, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* node) {
        if (node != nullptr && (KindOf(node) == kFolder || KindOf(node) == kRoot))
            ui_->Label1->setText(Q(RemotePath(node)));
    });
    connect(ui_->Text1, &QLineEdit::textChanged, this, [this](const QString& text) {
        ui_->dGraphicButton3->setEnabled(!TrimBlanks(text.toStdString()).empty());
    });
    connect(ui_->dGraphicButton1, &QPushButton::clicked, this, &frmBrowseFTP::Select);
    connect(ui_->dGraphicButton2, &QPushButton::clicked, this, &frmBrowseFTP::reject);
    connect(ui_->dGraphicButton3, &QPushButton::clicked, this, &frmBrowseFTP::CreateFolder);
    const auto setting = [](const char* name) {
        return Number(GetRegSetting(kAppName, kSection, name, "0"));
    };
    if (setting("Width") > 0 && setting("Height") > 0)
        setGeometry(setting("Left"), setting("Top"), setting("Width"), setting("Height"));
    ApplyLanguage(this);
}

frmBrowseFTP::~frmBrowseFTP() {
    ftp_.Disconnect();
}

bool frmBrowseFTP::Open() {
    BusyPointer busy(busy_);
    ftp_.SetupConnection(account_.host, account_.port, account_.user, account_.password,
                         account_.passive);
    if (!ftp_.EstablishConnection()) {
        CurrentHost().MessageBox(GetMsg("strMsgCantConnectToFTP"), MsgButtons::Ok,
                                 MsgIcon::Critical);
        done(Rejected);
        return false;
    }
    QTreeWidgetItem* root = PutRoot(ftp_.GetRootDir());
    const std::optional<std::vector<clsFTPFile>> files = ftp_.GetFileList();
    if (!files) {
        CurrentHost().MessageBox(GetMsg("strMsgCantGetDirList"), MsgButtons::Ok, MsgIcon::Critical);
        done(Rejected);
        return false;
    }
    ShowOpened(root, *files);
    return true;
}

QTreeWidgetItem* frmBrowseFTP::PutRoot(const std::string& loginFolder) {
    const QSignalBlocker quiet(ui_->TreeView1);
    ui_->TreeView1->clear();
    auto* root = new QTreeWidgetItem(ui_->TreeView1);
    root->setText(0, Q(account_.host + loginFolder));
    root->setData(0, kKindRole, kRoot);
    root->setData(0, kPathRole, Q(loginFolder));
    root->setIcon(0, Picture(kRoot, true));
    root->setExpanded(true);
    return root;
}

std::string frmBrowseFTP::RemotePath(const QTreeWidgetItem* node) {
    return node->data(0, kPathRole).toString().toStdString();
}

void frmBrowseFTP::ShowOpened(QTreeWidgetItem* node, std::vector<clsFTPFile> entries) {
    const QSignalBlocker quiet(ui_->TreeView1);
    node->setExpanded(true);
    if (KindOf(node) == kFolder)
        node->setIcon(0, Picture(kFolder, true));
    qDeleteAll(node->takeChildren());
    // Folders first, each group by name: a server lists in any order.
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.bDir != b.bDir ? a.bDir : a.strName < b.strName;
    });
    std::set<std::string> names;
    for (const clsFTPFile& entry : entries) {
        // A summary line has no name, and "." and ".." would nest for ever.
        if (entry.strName.empty() || entry.strName == "." || entry.strName == ".." ||
            !names.insert(entry.strName).second)
            continue;
        const NodeKind kind = entry.bDir ? kFolder : kFile;
        auto* child = new QTreeWidgetItem(node);
        child->setText(0, Q(entry.strName));
        child->setData(0, kKindRole, kind);
        child->setData(0, kPathRole, Q(Folded(RemotePath(node) + "/" + entry.strName)));
        child->setIcon(0, Picture(kind, false));
        if (kind == kFolder)
            AddPlaceholder(child);
    }
}

bool frmBrowseFTP::ConnectionDropped() {
    // A hang-up shows as the end of the control connection, or as the 421
    // servers send before they close an idle one.
    std::string ignored;
    if (ftp_.ctrlSocket.IsOpen() && !ftp_.ctrlSocket.IsFinished())
        ftp_.ctrlSocket.ReceiveData(ignored, 0);
    return ftp_.LastReplyCode() == 421 || !ftp_.ctrlSocket.IsOpen() || ftp_.ctrlSocket.IsFinished();
}

bool frmBrowseFTP::Exchange(const std::function<bool()>& exchange) {
    if (closed_ || lost_)
        return false;
    if (exchange())
        return true;
    if (closed_ || !ConnectionDropped())
        return false;
    WriteLog(GetMsg("strMsgFtpReconnecting", "%h", account_.host));
    ftp_.Disconnect();
    if (!ftp_.EstablishConnection()) {
        lost_ = true;
        return false;
    }
    return exchange();
}

bool frmBrowseFTP::ListFolder(QTreeWidgetItem* node) {
    std::optional<std::vector<clsFTPFile>> files;
    bool entered = false;
    Exchange([&] {
        entered = ftp_.ChangeCurrentDirectory(RemotePath(node));
        files = entered ? ftp_.GetFileList() : std::nullopt;
        return files.has_value();
    });
    if (files) {
        ShowOpened(node, std::move(*files));
    } else if (lost_) {
        GiveUp();
    } else if (entered && !closed_) {
        CurrentHost().MessageBox(GetMsg("strMsgCantGetDirList"), MsgButtons::Ok, MsgIcon::Critical);
    }
    return files.has_value();
}

void frmBrowseFTP::Expanded(QTreeWidgetItem* node) {
    if (busy_ || ftp_.connectionState() != clsFTPConnection::kLoggedIn) {
        Collapsed(node);
        return;
    }
    BusyPointer busy(busy_);
    // A folder the server will not enter or list keeps its placeholder, to
    // be tried again.
    if (!ListFolder(node) && !closed_)
        Collapsed(node);
}

void frmBrowseFTP::Collapsed(QTreeWidgetItem* node) {
    const QSignalBlocker quiet(ui_->TreeView1);
    node->setExpanded(false);
    if (KindOf(node) == kFolder)
        node->setIcon(0, Picture(kFolder, false));
}

QTreeWidgetItem* frmBrowseFTP::SelectedNode() const {
    const QList<QTreeWidgetItem*> selected = ui_->TreeView1->selectedItems();
    return selected.isEmpty() || KindOf(selected.front()) == kPlaceholder ? nullptr
                                                                          : selected.front();
}

void frmBrowseFTP::CreateFolder() {
    QTreeWidgetItem* node = SelectedNode();
    const std::string name = TrimBlanks(ui_->Text1->text().toStdString());
    if (node == nullptr || name.empty() || busy_)
        return;
    std::string path = RemotePath(node) + "/" + name;
    {
        BusyPointer busy(busy_);
        if (!Exchange([&] { return ftp_.CreateFTPDirectory(path); })) {
            if (lost_)
                return GiveUp();
            const std::string why = GetMsg("strMsgCantCreateDirectory");
            CurrentHost().MessageBox(why, MsgButtons::Ok, MsgIcon::Critical);
            WriteLog(why);
            return;
        }
    }
    ui_->Text1->clear();
    // Expanding lists the folder; an open one is listed again here.
    if (node->isExpanded()) {
        BusyPointer busy(busy_);
        ListFolder(node);
    } else {
        node->setExpanded(true);
    }
}

void frmBrowseFTP::DeleteFolder() {
    QTreeWidgetItem* node = SelectedNode();
    if (node == nullptr || busy_ || ftp_.connectionState() != clsFTPConnection::kLoggedIn)
        return;
    std::string path = RemotePath(node);
    if (CurrentHost().MessageBox(GetMsg("strMsgRealyDeleteFTPDirectory", "%d", path),
                                 MsgButtons::YesNo, MsgIcon::Question) != MsgAnswer::Yes)
        return;
    BusyPointer busy(busy_);
    // A folder that is not empty, or a file, is refused and stays as it is.
    if (!Exchange([&] { return ftp_.DeleteFTPDirectory(path); })) {
        if (lost_)
            GiveUp();
        return;
    }
    if (QTreeWidgetItem* parent = node->parent())
        ListFolder(parent);
}

void frmBrowseFTP::Select() {
    // The choice is a folder; a file stands for none.
    if (QTreeWidgetItem* node = SelectedNode();
        node != nullptr && KindOf(node) != kFile && !busy_) {
        chosen_ = RemotePath(node);
        accept();
    }
}

void frmBrowseFTP::GiveUp() {
    CurrentHost().MessageBox(GetMsg("strMsgCantConnectToFTP"), MsgButtons::Ok, MsgIcon::Critical);
    done(Rejected);
}

void frmBrowseFTP::done(int result) {
    // A close in the middle of an exchange ends it: the exchange fails
    // without asking the server again.
    closed_ = true;
    ftp_.Disconnect();
    const QRect g = geometry();
    if (isVisible())
        for (auto [name, value] : {std::pair{"Left", g.x()}, std::pair{"Top", g.y()},
                                   std::pair{"Width", g.width()}, std::pair{"Height", g.height()}})
            SaveRegSetting(kAppName, kSection, name, std::to_string(value));
    QDialog::done(result);
}

void frmBrowseFTP::showEvent(QShowEvent* event) {
    ApplyLanguage(this);
    QDialog::showEvent(event);
}

bool frmBrowseFTP::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (watched == ui_->TreeView1 && key == Qt::Key_Delete) {
        DeleteFolder();
        return true;
    }
    // Enter after a folder name creates it instead of choosing the folder.
    if (watched == ui_->Text1 && (key == Qt::Key_Return || key == Qt::Key_Enter) &&
        ui_->dGraphicButton3->isEnabled()) {
        CreateFolder();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
