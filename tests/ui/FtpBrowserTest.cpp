#include "WindowFixture.h"
#include "ftp/FtpServers.h"
#include "ui/frmBrowseFTP.h"
#include "ui/frmEditBackup.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

namespace {

// The browser logged in as alice; Shape lists the texts below a node, ","
// between, a child's own children in brackets.
class FtpBrowser : public WindowTest, public ::testing::WithParamInterface<ServerKind> {
protected:
    void TearDown() override { window.reset(), WindowTest::TearDown(); }
    QTreeWidgetItem* Open(int port, const std::string& password = kPassword) {
        window = std::make_unique<frmBrowseFTP>(FtpAccount{"127.0.0.1", port, "alice", password});
        tree = Child<QTreeWidget>(window.get(), "TreeView1");
        return window->Open() ? (window->show(), tree->topLevelItem(0)) : nullptr;
    }
    static std::string Shape(const QTreeWidgetItem* node) {
        std::string shape;
        for (int i = 0; i < node->childCount(); ++i)
            shape += (i > 0 ? "," : "") + node->child(i)->text(0).toStdString() +
                     (node->child(i)->childCount() > 0 ? "(" + Shape(node->child(i)) + ")" : "");
        return shape;
    }
    std::unique_ptr<frmBrowseFTP> window;
    QTreeWidget* tree = nullptr;
};

TEST_P(FtpBrowser, ListsCreatesDeletesAndChoosesRemoteFolders) {
    TempHome served;
    served.Write("docs/sub/x.txt", "x"), served.Write("docs/y.txt", "y"), served.Write("a", "a");
    for (const char* folder : {"docs", "empty"}) // pure-ftpd works as nobody
        ::mkdir(served.File(folder).c_str(), 0777), ::chmod(served.File(folder).c_str(), 0777);
    std::unique_ptr<ServerScript> server;
    START_SERVER(server, GetParam(), served.Path());
    QTreeWidgetItem* root = Open(server->Port());
    ASSERT_NE(root, nullptr) << boxes;
    EXPECT_EQ(root->text(0), "127.0.0.1/");
    EXPECT_EQ(Shape(root), "docs(..),empty(..),a");
    QTreeWidgetItem* docs = root->child(0);
    for (const char* shape : {"sub(-),y.txt", "sub(-),y.txt,z.txt"}) { // listed anew each time
        docs->setExpanded(true);
        EXPECT_EQ(Shape(docs), shape);
        EXPECT_TRUE(SamePicture(docs->icon(0), ":/icons/folder-open.svg"));
        docs->setExpanded(false);
        EXPECT_TRUE(SamePicture(docs->icon(0), ":/icons/folder.svg"));
        served.Write("docs/z.txt", "z");
    }
    tree->setCurrentItem(docs);
    EXPECT_EQ(Child(window.get(), "Label1")->text(), "/docs");
    auto* name = Child<QLineEdit>(window.get(), "Text1");
    name->setText("   ");
    EXPECT_FALSE(Child<QPushButton>(window.get(), "dGraphicButton3")->isEnabled());
    name->setText(" new one ");
    Click(window.get(), "dGraphicButton3");
    EXPECT_TRUE(FolderExists(served.File("docs/new one")));
    EXPECT_EQ(Shape(docs), "new one(-),sub(-),y.txt,z.txt");

    // No keeps the folder, Yes deletes it; a folder that is not empty is refused quietly.
    for (auto [node, reply] : {std::pair{docs->child(0), MsgAnswer::No},
                               {docs->child(0), MsgAnswer::Yes},
                               {docs, MsgAnswer::Yes}}) {
        tree->setCurrentItem(node), answer = reply;
        QKeyEvent event(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
        QApplication::sendEvent(tree, &event);
        EXPECT_EQ(FolderExists(served.File("docs/new one")), reply == MsgAnswer::No);
    }
    EXPECT_EQ(Shape(docs), "sub(-),y.txt,z.txt");
    const std::string ask = "Do you really want to delete the remote directory [";
    EXPECT_EQ(boxes, ask + "/docs/new one]?|" + ask + "/docs/new one]?|" + ask + "/docs]?|");
    for (QTreeWidgetItem* file : {static_cast<QTreeWidgetItem*>(nullptr), root->child(2)}) {
        tree->clearSelection(), tree->setCurrentItem(file);
        Click(window.get(), "dGraphicButton1"); // nothing, or a file, chooses nothing
        EXPECT_TRUE(window->isVisible());
    }
    window.reset();

    // The editor's Browse opens it with the editor's FTP fields and takes the chosen folder.
    frmEditBackup editor;
    Child<QLineEdit>(&editor, "txtPort")->setText(QString::number(server->Port()));
    Child<QLineEdit>(&editor, "txtUsername")->setText("alice");
    Child<QLineEdit>(&editor, "txtPassword")->setText(QString::fromStdString(kPassword));
    QTimer poll; // until the browser has logged in and waits for the user
    poll.callOnTimeout([&] {
        if (auto* browser = qobject_cast<frmBrowseFTP*>(QApplication::activeModalWidget())) {
            auto* list = Child<QTreeWidget>(browser, "TreeView1");
            list->setCurrentItem(list->topLevelItem(0)->child(1));
            Click(browser, "dGraphicButton1");
        }
    });
    poll.start(10);
    Click(&editor, "ftpBrowse");
    EXPECT_EQ(Child<QLineEdit>(&editor, "txtdestpath2")->text(), "/empty");
    editor.reject();
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpBrowser,
                         ::testing::Values(ServerKind::Pyftpdlib, ServerKind::PureFtpd),
                         [](const auto& info) {
                             return info.param == ServerKind::Pyftpdlib ? "pyftpdlib" : "pureftpd";
                         });

// What real servers do not do on demand. A refusal answers at once, and every
// session ends with QUIT, which the fake checks.
TEST_F(FtpBrowser, RefusalsAnswerAtOnceAndADroppedConnectionIsOpenedAgainOnce) {
    const std::string opened = kLogin + "PWD=257 \"/srv\"|PASV=@pasv|LIST=150 Go;@data ls;226 Ok";
    const std::string dropped = opened + "|=421 Timeout.;@close;@signal;@next|=220 Again|";
    const std::string cantList = "Can't get directory list!(critical)|";
    const std::string cantConnect = "Can't connect to ftp server!(critical)|";
    const struct {
        std::string script, boxes;
        std::string docs; // its children once expanded; "closed" when the window closed
    } rows[] = {
        {"", cantConnect, "closed"}, // nobody listening
        {kLogin + "PWD=257 \"/srv\"|PASV=@pasv|LIST=550 No;@closepasv", cantList, "closed"},
        {opened + "|CWD /srv/docs=550 No such folder", "", ".."},
        {opened + "|CWD /srv/docs=250 Ok|PASV=@pasv|LIST=550 No;@closepasv", cantList, ".."},
        {dropped + "USER alice=331 Pw|pass pw=230 In|CWD /srv/docs=250 Ok|PASV=@pasv|"
                   "LIST=150 Go;@data ls;226 Ok",
         "", "docs(-)"},
        {dropped + "USER alice=530 No more", cantConnect, "closed"},
    };
    const Blobs listing{{"ls", "drwxr-xr-x 2 alice alice 4096 Dec 05 10:00 docs\r\n"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.script);
        FakeFtpServer fake(row.script, listing);
        std::string docs = "closed";
        boxes.clear();
        const long long taken = MillisecondsTaken([&] {
            QTreeWidgetItem* root =
                Open(row.script.empty() ? ClosedLoopbackPort() : fake.Port(), "pw");
            const bool drops = row.script.find("@next") != std::string::npos;
            for (int i = 0; root != nullptr && drops && !fake.Signalled() && i < 500; ++i)
                ::usleep(10000); // until the server has hung up
            if (root != nullptr)
                root->child(0)->setExpanded(true);
            if (window->isVisible())
                docs = Shape(root->child(0));
        });
        EXPECT_LT(taken, 4000); // a reply time-out is 5 s
        EXPECT_EQ(boxes, row.boxes);
        EXPECT_EQ(docs, row.docs);
        window.reset();
        EXPECT_EQ(row.script.empty() ? Strings{} : fake.Problems(), Strings{});
    }
}

} // namespace
