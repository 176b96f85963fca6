#include "jobs/JobListFile.h"
#include "platform/FileSystem.h"
#include "support/ProgramFolderSetup.h"
#include "ui/DesktopHost.h"
#include "ui/frmEditBackup.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <fstream>

namespace {

// A program folder with a source folder and a destination; boxes are recorded.
class EditorWindow : public ::testing::Test {
protected:
    void SetUp() override {
        PrepareProgramFolder(home);
        CreateFolderPath(home.File("src"));
        CreateFolderPath(home.File("dest"));
        SetHost(&host);
        host.answerer = [this](const std::string& text, MsgButtons, MsgIcon) {
            boxes += text + "|";
            return MsgAnswer::Yes;
        };
    }
    void TearDown() override {
        SetHost(nullptr);
        ReleaseProgramFolder();
    }
    std::unique_ptr<frmEditBackup> Open(const std::string& name = "") {
        auto window = std::make_unique<frmEditBackup>(name);
        window->show();
        return window;
    }
    template <class T> T* Get(frmEditBackup& w, const char* n) { return w.findChild<T*>(n); }
    // A valid new job: the source folder, the local destination, an archive.
    std::unique_ptr<frmEditBackup> Filled(const char* name) {
        auto w = Open();
        Get<QLineEdit>(*w, "txtBackupName")->setText(name);
        auto* list = Get<QTreeWidget>(*w, "lvFiles");
        auto* row = new QTreeWidgetItem(list, {QString::fromStdString(home.File("src"))});
        row->setData(0, Qt::UserRole, 1);
        Get<QLineEdit>(*w, "txtDestPath")->setText(QString::fromStdString(home.File("dest")));
        return w;
    }
    void Click(frmEditBackup& w, const char* name) { Get<QPushButton>(w, name)->click(); }
    TempHome home;
    DesktopHost host;
    std::string boxes;
};

TEST_F(EditorWindow, ChecksRunInOrderAndKeepTheEditorOpen) {
    gBackups.push_back(std::make_shared<clsBackup>());
    gBackups.back()->sName = "Photos";
    const struct {
        const char* name;
        const char* dest;
        bool source;
        const char* message;
    } rows[] = {{"---", "dest", true, "The backup name is empty!|"},
                {"a/b", "dest", true, "A backup name cannot hold \"/\"!|"},
                {"pHo-tos", "dest", true, "Backup name already exists!|"},
                {"Work", "missing", true, "Destination directory does not exists!|"},
                {"Work", "dest", false, "No source to backup!|"},
                {"Work", "src/inner", true, "The destination"}};
    CreateFolderPath(home.File("src/inner"));
    for (const auto& row : rows) {
        auto w = Filled(row.name);
        Get<QLineEdit>(*w, "txtDestPath")->setText(QString::fromStdString(home.File(row.dest)));
        if (!row.source)
            Get<QTreeWidget>(*w, "lvFiles")->clear();
        boxes.clear();
        Click(*w, "cmdSaveBackup");
        EXPECT_EQ(boxes.substr(0, std::string(row.message).size()), row.message) << row.name;
        EXPECT_TRUE(w->SavedJobName().empty());
        EXPECT_EQ(gBackups.size(), 1U);
    }
    auto w = Filled("Work");
    Get<QCheckBox>(*w, "chkPassword")->setChecked(true);
    Get<QLineEdit>(*w, "txtPass1")->setText("one");
    Get<QLineEdit>(*w, "txtPass2")->setText("two");
    boxes.clear();
    Click(*w, "cmdSaveBackup");
    EXPECT_EQ(boxes, "The two passwords differ! Type the same password in both boxes.|");
}

TEST_F(EditorWindow, NewJobSavesLikeTheHandWrittenOneAndRenameKeepsTheEarlierIndex) {
    auto w = Filled("My-Work");
    Get<QLineEdit>(*w, "txtPass1")->setText("pw");
    Get<QLineEdit>(*w, "txtPass2")->setText("pw");
    Get<QCheckBox>(*w, "chkPassword")->setChecked(true);
    Click(*w, "cmdSaveBackup");
    ASSERT_EQ(w->SavedJobName(), "MyWork") << boxes;
    const std::string hand =
        "[Backups]\nMyWork\n[MyWork]\nStorage=LOC\nDestination=" + home.File("dest") +
        "\nType=FULL\nCompress=NOT\nIMSK=*.*\nEMSK=\nStatus=0\n"
        "Protected=" +
        EncodeCharCodes(TransformPassword("pw")) +
        "\nOKLast=189912300000\nArchived=yes\nSplit=0\nSchedule=0\nDir0001=" + home.File("src") +
        "\n";
    std::ofstream(home.File("hand.ini")) << hand;
    std::vector<std::shared_ptr<clsBackup>> byHand;
    std::string error;
    ASSERT_TRUE(LoadBackups(home.File("hand.ini"), byHand, error)) << error;
    EXPECT_EQ(SerializeBackups(gBackups), SerializeBackups(byHand));
    // The job has an index at its destination: a rename asks and keeps it.
    std::ofstream(home.File("dest/MyWork.fs")) << "index";
    auto edit = Open("MyWork");
    Get<QLineEdit>(*edit, "txtBackupName")->setText("Renamed");
    boxes.clear();
    Click(*edit, "cmdModify");
    EXPECT_EQ(edit->SavedJobName(), "Renamed");
    EXPECT_EQ(boxes.rfind("Backup \"MyWork\" already has backups", 0), 0U) << boxes;
    EXPECT_FALSE(FileExists(home.File("dest/MyWork.fs")));
    EXPECT_EQ(gBackups.front()->sName, "Renamed");
}

} // namespace
