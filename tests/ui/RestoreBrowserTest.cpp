#include "engine/RestoreRun.h"
#include "ftp/FtpServers.h"
#include "i18n/FormatSize.h"
#include "support/ProgramFolderSetup.h"
#include "ui/DesktopHost.h"
#include "ui/frmBrowseRestoreList.h"

#include <QAction>
#include <QApplication>
#include <QDate>
#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTreeView>
#include <unistd.h>

namespace {

const std::string kFull = "20261205100000", kIncremental = "20261205110000";

// Job "Docs" with two sessions: the full run at 10:00 and, after a.txt changed
// and c.txt appeared, an incremental one at 11:00. Boxes go to the test host.
class RestoreBrowser : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        PutSource("docs/a.txt", "alpha");
        PutSource("docs/sub/b.bin", std::string(70000, '\x01'));
        PutSource("docs/Sub/b.bin", "upper-case folder");
        AddJob("Docs")->bIncremental = true;
        Run("Docs");
        SetClockOverride(At(11, 0));
        PutSource("docs/a.txt", "alpha, rewritten", 1700000500);
        PutSource("docs/c.txt", "gamma");
        Run("Docs");
        host.boxes.clear();
    }

    std::unique_ptr<frmBrowseRestoreList> Open(const std::string& job = "Docs") {
        auto window = std::make_unique<frmBrowseRestoreList>(FindBackup(job));
        EXPECT_TRUE(window->LoadList());
        tree = window->findChild<QTreeView*>("tvTreeView");
        list = window->findChild<QTreeView*>("lvListView");
        return window;
    }
    // The key of a session ("") or of a stored path below the source tree.
    std::string Key(const std::string& stamp, const std::string& relative = "") const {
        return relative.empty() ? "ses_" + stamp : "SES_" + stamp + source.File(relative);
    }
    QModelIndex Find(const std::string& key) const {
        const QModelIndexList found = tree->model()->match(tree->model()->index(0, 0), Qt::UserRole,
                                                           QString::fromStdString(key), 1,
                                                           Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? QModelIndex() : found.first();
    }
    int Node(const std::string& key) const { return Find(key).data(Qt::UserRole + 1).toInt(); }
    int Check(const std::string& key) const { return Find(key).data(Qt::CheckStateRole).toInt(); }
    void SetCheck(QAbstractItemModel* model, const QModelIndex& at, bool on) {
        model->setData(at, on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
    }
    // The list's rows as "name" or "name=check state".
    std::string Rows(bool checks = false) const {
        std::string rows;
        for (int r = 0; r < list->model()->rowCount(); ++r) {
            const QModelIndex at = list->model()->index(r, 0);
            rows += (r ? "," : "") + at.data().toString().toStdString() +
                    (checks ? "=" + std::to_string(at.data(Qt::CheckStateRole).toInt()) : "");
        }
        return rows;
    }
    // Both sessions checked, then the restore command with these answers
    // (the picker gives `restored`).
    void RestoreBoth(frmBrowseRestoreList& w, std::deque<MsgAnswer> answers) {
        SetCheck(tree->model(), Find(Key(kFull)), true);
        SetCheck(tree->model(), Find(Key(kIncremental)), true);
        host.answers = std::move(answers);
        host.folderToPick = restored.Path();
        w.RestoreChecked();
    }
    long Shown(const std::string& text) const {
        return std::ranges::count_if(host.boxes, [&](const TestHost::Box& b) {
            return b.text.find(text) != std::string::npos;
        });
    }

    QTreeView *tree = nullptr, *list = nullptr;
    TempHome restored;
};

TEST_F(RestoreBrowser, OneRootPerSessionFoldersKeepTheirCaseAndTheListShowsEachFile) {
    auto w = Open();
    ASSERT_EQ(tree->model()->rowCount(), 2);
    EXPECT_EQ(Find(Key(kFull)).row(), 0);
    EXPECT_NE(Node(Key(kFull, "docs/sub")), Node(Key(kFull, "docs/Sub")));
    EXPECT_FALSE(Find(Key(kIncremental, "docs/sub")).isValid()); // unchanged: not stored again
    w->ShowNode(Node(Key(kIncremental, "docs")));
    list->header()->sectionClicked(0);
    EXPECT_EQ(Rows(), "a.txt,c.txt");
    auto cell = [&](int column) { return list->model()->index(0, column).data().toString(); };
    EXPECT_EQ(cell(1).toStdString(), FormatSize(16));
    EXPECT_TRUE(cell(2).endsWith(".darc"));
    EXPECT_TRUE(cell(4).startsWith(QLocale().toString(QDate(2023, 11, 14), QLocale::ShortFormat)));
    // A header click sorts, a second one on the same column reverses.
    w->ShowNode(Node(Key(kFull, "docs")));
    const std::pair<int, const char*> clicks[] = {
        {0, "sub,Sub,a.txt"}, {1, "Sub,sub,a.txt"}, {1, "a.txt,sub,Sub"}, {0, "a.txt,Sub,sub"}};
    for (const auto& [column, rows] : clicks) {
        list->header()->sectionClicked(column);
        EXPECT_EQ(Rows(), rows) << column;
    }
}

// A symbolic link is stored as one: it shows as a link, and its stored bytes
// (the target text) are no size to show.
TEST_F(RestoreBrowser, ALinkShowsAsALinkWithoutASize) {
    SetClockOverride(At(12, 0));
    ASSERT_EQ(::symlink("a.txt", source.File("docs/link").c_str()), 0);
    Run("Docs");
    auto w = Open();
    const std::string session = "20261205120000";
    auto picture = [](const QModelIndex& at) {
        return at.data(Qt::DecorationRole).value<QIcon>().pixmap(16).toImage();
    };
    const QImage link = QIcon(":/icons/link.svg").pixmap(16).toImage();
    EXPECT_EQ(picture(Find(Key(session, "docs/link"))), link);
    EXPECT_NE(picture(Find(Key(kFull, "docs/a.txt"))), link);
    w->ShowNode(Node(Key(session, "docs")));
    ASSERT_EQ(Rows(), "link");
    EXPECT_TRUE(list->model()->index(0, 1).data().toString().isEmpty());
    EXPECT_FALSE(list->model()->index(0, 2).data().toString().isEmpty()); // its volume is shown
}

TEST_F(RestoreBrowser, ChecksGoDownToEveryEntryAndUpAsPartialAndReachTheList) {
    auto w = Open();
    SetCheck(tree->model(), Find(Key(kFull)), true);
    for (const char* path : {"docs/a.txt", "docs/sub/b.bin", "docs/Sub", "docs"})
        EXPECT_EQ(Check(Key(kFull, path)), Qt::Checked) << path;
    EXPECT_EQ(Check(Key(kIncremental)), Qt::Unchecked);
    w->ShowNode(Node(Key(kFull, "docs")));
    list->header()->sectionClicked(0);
    EXPECT_EQ(Rows(true), "a.txt=2,Sub=2,sub=2");
    // A list item back to the tree, and the folders above it now partly checked.
    SetCheck(list->model(), list->model()->index(2, 0), false);
    EXPECT_EQ(Check(Key(kFull, "docs/sub/b.bin")), Qt::Unchecked);
    EXPECT_EQ(Check(Key(kFull, "docs")), Qt::PartiallyChecked);
    EXPECT_EQ(Check(Key(kFull)), Qt::PartiallyChecked);
    EXPECT_EQ(Rows(true), "a.txt=2,Sub=2,sub=0");
    auto* status = w->findChild<QStatusBar*>("sbStatusBar")->findChild<QLabel*>();
    EXPECT_TRUE(status->text().startsWith("2 files checked"));
    SetCheck(tree->model(), Find(Key(kFull, "docs/sub")), true);
    EXPECT_EQ(Check(Key(kFull)), Qt::Checked);
}

TEST_F(RestoreBrowser, DoubleClickOpensAFolderBackspaceGoesUpAndTheMenuSwitchesTheView) {
    auto w = Open();
    const int docs = Node(Key(kFull, "docs"));
    w->ShowNode(docs);
    list->header()->sectionClicked(0);
    list->doubleClicked(list->model()->index(0, 0)); // a file: stays
    EXPECT_EQ(w->ShownNode(), docs);
    list->setCurrentIndex(list->model()->index(1, 0));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(list, &enter);
    EXPECT_EQ(w->ShownNode(), Node(Key(kFull, "docs/Sub")));
    w->ShowNode(docs);
    list->doubleClicked(list->model()->index(2, 0));
    EXPECT_EQ(w->ShownNode(), Node(Key(kFull, "docs/sub")));
    EXPECT_EQ(tree->currentIndex(), Find(Key(kFull, "docs/sub")));
    for (int up = 0; up < 8; ++up) { // up to the session, and no further
        QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
        QApplication::sendEvent(list, &backspace);
    }
    EXPECT_EQ(w->ShownNode(), Node(Key(kFull)));
    auto* stack = w->findChild<QStackedWidget*>("lvStack");
    auto* icons = w->findChild<QListView*>("lvIconView");
    w->findChild<QAction*>("mniLargeIcons")->trigger();
    EXPECT_EQ(stack->currentWidget(), icons);
    EXPECT_EQ(icons->viewMode(), QListView::IconMode);
    w->findChild<QAction*>("mniList")->trigger();
    EXPECT_EQ(icons->viewMode(), QListView::ListMode);
    w->findChild<QAction*>("mniDetails")->trigger();
    EXPECT_EQ(stack->currentWidget(), list);
    EXPECT_EQ(w->findChild<QAction*>("keyRestoreFiles")->shortcut(), QKeySequence("Alt+R"));
}

// How the restore ends, by the answers to the questions.
struct RestoreCase {
    const char* name;
    std::deque<MsgAnswer> answers; // original folders?, replace existing?
    bool chosenFolder;
    const char* a; // a.txt afterwards ("changed" where it was kept)
};

class Restores : public RestoreBrowser, public ::testing::WithParamInterface<RestoreCase> {};

TEST_P(Restores, TheNewestCheckedVersionsGoThroughTheEngineAskingOnceAboutExistingFiles) {
    const RestoreCase& c = GetParam();
    source.Write("docs/a.txt", "changed");
    source.Write("docs/Sub/b.bin", "changed too");
    ::unlink(source.File("docs/c.txt").c_str());
    RestoreBoth(*Open(), c.answers);
    const std::string base = c.chosenFolder ? restored.Path() : std::string();
    EXPECT_EQ(ReadTestFile(base + source.File("docs/a.txt")), c.a);
    EXPECT_EQ(ReadTestFile(base + source.File("docs/c.txt")), "gamma");
    EXPECT_EQ(ReadTestFile(base + source.File("docs/sub/b.bin")), std::string(70000, '\x01'));
    EXPECT_EQ(Shown("already exist"), c.chosenFolder ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, Restores,
    ::testing::Values(
        RestoreCase{
            "OriginalReplaced", {MsgAnswer::Yes, MsgAnswer::Yes}, false, "alpha, rewritten"},
        RestoreCase{"OriginalKept", {MsgAnswer::Yes, MsgAnswer::No}, false, "changed"},
        RestoreCase{"ChosenFolder", {MsgAnswer::No}, true, "alpha, rewritten"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RestoreBrowser, OnTheDesktopTheModalBrowserOwnsTheRestoresProgressWindow) {
    DesktopHost desktop;
    QWidget mainWindow;
    desktop.mainWindow = &mainWindow;
    desktop.answerer = [](const std::string&, MsgButtons, MsgIcon) { return MsgAnswer::Yes; };
    QObject* owner = nullptr;
    desktop.onProgressValue = [&](const std::string&, double) {
        owner = desktop.ProgressWindow()->parent();
    };
    SetHost(&desktop);
    auto w = Open();
    SetCheck(tree->model(), Find(Key(kFull)), true);
    w->RestoreChecked();
    SetHost(&host);
    EXPECT_EQ(owner, w.get()); // a child of the modal window, so pause and cancel answer
    EXPECT_EQ(desktop.mainWindow, &mainWindow);
}

TEST_F(RestoreBrowser, ADamagedVolumeOrAHostileNameRestoresNothingWrongAndSaysWhy) {
    // A byte of b.bin's blocks flipped, and c.txt's name turned into a way out.
    std::string bytes = destination.Read("Docs202612051000.darc");
    bytes[bytes.size() / 2] ^= 0x5A;
    destination.Write("Docs202612051000.darc", bytes);
    std::string index = destination.Read("Docs.fs");
    const std::string c = "fname=" + source.File("docs/c.txt");
    index.replace(index.find(c), c.size(), "fname=" + source.File("docs/../c.txt"));
    destination.Write("Docs.fs", index);
    RestoreBoth(*Open(), {MsgAnswer::No});
    EXPECT_FALSE(FileExists(restored.Path() + source.File("docs/sub/b.bin")));
    EXPECT_FALSE(FileExists(restored.Path() + source.File("c.txt")));
    EXPECT_TRUE(Shown("index entry refused"));
    EXPECT_TRUE(Shown("Restore of " + source.File("docs/sub/b.bin") + " failed"));
}

TEST_F(RestoreBrowser, AFilterNarrowsEverySessionAndKeepsTheCheckMarks) {
    auto w = Open();
    SetCheck(tree->model(), Find(Key(kFull, "docs/a.txt")), true);
    auto* filter = w->findChild<QLineEdit*>("txtFilter");
    filter->setText("B.BIN");
    ASSERT_EQ(tree->model()->rowCount(), 1);
    EXPECT_TRUE(Find(Key(kFull, "docs/Sub/b.bin")).isValid());
    EXPECT_FALSE(Find(Key(kFull, "docs/a.txt")).isValid());
    // A check while filtered takes only what is shown.
    SetCheck(tree->model(), Find(Key(kFull, "docs")), false);
    filter->setText("zzz");
    EXPECT_EQ(tree->model()->rowCount(), 0);
    filter->clear();
    EXPECT_EQ(tree->model()->rowCount(), 2);
    EXPECT_EQ(Check(Key(kFull, "docs/a.txt")), Qt::Checked);
    EXPECT_EQ(Check(Key(kFull, "docs/sub")), Qt::Unchecked);
    SetCheck(tree->model(), Find(Key(kFull)), true);
    filter->setText("c.t");
    SetCheck(tree->model(), Find(Key(kIncremental)), true);
    filter->clear();
    EXPECT_EQ(Check(Key(kIncremental, "docs/a.txt")), Qt::Unchecked);
    EXPECT_EQ(Check(Key(kIncremental)), Qt::PartiallyChecked);
}

TEST_F(RestoreBrowser, AJobWithoutAnIndexSaysWhyAndOneThatNeverRanSaysSo) {
    AddJob("Fresh");
    AddJob("Lost")->enumStatus = kStatusFinished;
    auto remote = AddJob("Remote");
    remote->destFTP = true;
    remote->enumStatus = kStatusFinished;
    remote->objDestination = clsTidevault{"127.0.0.1", ClosedLoopbackPort(), "alice", "pw", true};
    const std::pair<const char*, const char*> cases[] = {
        {"Fresh", "has not run yet"},
        {"Lost", "Failed to create restore list!"},
        {"Remote", "Can't connect to ftp server!"},
    };
    for (const auto& [job, text] : cases) {
        host.boxes.clear();
        frmBrowseRestoreList browser(FindBackup(job));
        EXPECT_FALSE(browser.LoadList()) << job;
        EXPECT_TRUE(Shown(text)) << job;
    }
}

// The same job delivered to a real FTP server: the window's connection
// fetches the index and the volumes, and logs in again once when the server
// has dropped it meanwhile (here: restarted on the same port).
class RemoteRestore : public RestoreBrowser,
                      public ::testing::WithParamInterface<std::pair<ServerKind, bool>> {};

TEST_P(RemoteRestore, TheWindowsConnectionDownloadsWhatTheCheckedFilesNeed) {
    const auto [kind, dropped] = GetParam();
    TempHome served;
    std::unique_ptr<ServerScript> server;
    START_SERVER(server, kind, served.Path());
    ::mkdir(served.File("backup").c_str(), 0777);
    ::chmod(served.File("backup").c_str(), 0777);
    auto job = AddJob("Remote");
    job->destFTP = true;
    job->sDestinationDir = "/backup";
    job->objDestination = clsTidevault{"127.0.0.1", server->Port(), "alice", kPassword, true};
    Run("Remote");
    auto w = Open("Remote");
    SetCheck(tree->model(), Find(Key("20261205110000")), true);
    host.answers = {MsgAnswer::No};
    host.folderToPick = restored.Path();
    if (dropped) {
        const std::string port = std::to_string(server->Port());
        server.reset();
        ::setenv("FTP_PORT", port.c_str(), 1);
        START_SERVER(server, kind, served.Path());
        ::unsetenv("FTP_PORT");
    }
    host.boxes.clear();
    w->RestoreChecked();
    EXPECT_EQ(ReadTestFile(restored.Path() + source.File("docs/a.txt")), "alpha, rewritten");
    EXPECT_EQ(ReadTestFile(restored.Path() + source.File("docs/sub/b.bin")),
              std::string(70000, '\x01'));
    // Where to restore, and the closing count: nothing else was asked.
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_TRUE(Shown("4/4 files restored")) << host.boxes.back().text;
    EXPECT_EQ(host.Logged("closed the connection while it was not in use"), dropped);
    w->reject();
}

INSTANTIATE_TEST_SUITE_P(Servers, RemoteRestore,
                         ::testing::Values(std::pair{ServerKind::Pyftpdlib, false},
                                           std::pair{ServerKind::PureFtpd, false},
                                           std::pair{ServerKind::Pyftpdlib, true}));

} // namespace
