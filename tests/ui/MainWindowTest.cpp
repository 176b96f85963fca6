#include "jobs/JobListFile.h"
#include "support/ProgramFolderSetup.h"
#include "ui/DesktopHost.h"
#include "ui/frmMain.h"

#include <QPushButton>
#include <QTreeWidget>

namespace {

class MainWindow : public RunFixture { // boxes answered by `answer` and recorded
protected:
    void SetUp() override {
        RunFixture::SetUp();
        SetHost(&desktop);
        desktop.answerer = [this](const std::string& text, MsgButtons, MsgIcon) {
            boxes.push_back(text);
            return answer;
        };
    }
    void TearDown() override { window.reset(), SetHost(nullptr), RunFixture::TearDown(); }
    QTreeWidget* Open() { // after the jobs are in gBackups, as at start
        window = std::make_unique<frmMain>(desktop);
        return window->findChild<QTreeWidget*>("ListView1");
    }
    void Click(const char* name) { window->findChild<QPushButton*>(name)->click(); }
    static std::vector<std::string> Texts(const QTreeWidgetItem* item) {
        std::vector<std::string> texts(item->columnCount());
        for (std::size_t i = 0; i < texts.size(); ++i)
            texts[i] = item->text(i).toStdString();
        return texts;
    }
    static bool Shows(const QTreeWidgetItem* item, const char* picture) {
        return item->icon(0).pixmap(16).toImage() == QIcon(picture).pixmap(16).toImage();
    }

    DesktopHost desktop;
    std::unique_ptr<frmMain> window;
    MsgAnswer answer = MsgAnswer::Yes;
    std::vector<std::string> boxes;
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
        EXPECT_TRUE(Shows(list->topLevelItem(i), pictures[i])) << i;
    }
}

TEST_F(MainWindow, BackupNowRunsTheSelectedJobAndShowsItsNewState) {
    PutSource("docs/a.txt", "alpha");
    AddJob("Docs");
    QTreeWidget* list = Open();
    Click("cmdBackup"); // nothing selected yet
    EXPECT_EQ(boxes, std::vector{GetMsg("strMsgSelectBkpFirst")});
    EXPECT_EQ(gBackups[0]->enumStatus, kStatusNeverRun);
    list->setCurrentItem(list->topLevelItem(0));
    Click("cmdBackup");
    EXPECT_EQ(gBackups[0]->enumStatus, kStatusFinished);
    EXPECT_EQ(list->topLevelItem(0)->text(3).toStdString(), CompletedText(*gBackups[0], At(10, 0)));
    EXPECT_TRUE(Shows(list->topLevelItem(0), ":/icons/backup.svg"));
}

TEST_F(MainWindow, TheTimerRunsADueJobAndRefreshesItsRowUnlessTheVisibleWindowBlocksIt) {
    PutSource("docs/a.txt", "alpha"), gBlockSchedule = true;
    AddJob("Docs")->Schedule =
        clsSchedule{.start = At(9, 0), .enabled = true, .Data = 1, .Tip = kScheduleHourly};
    QTreeWidget* list = Open();
    EXPECT_EQ(window->findChild<QTimer*>("schedTimer")->interval(), 1000);
    EXPECT_EQ(list->topLevelItem(0)->text(2), "Today at11:01");
    SetClockOverride(At(11, 1));
    window->show();
    window->SchedulerTick();
    EXPECT_EQ(gBackups[0]->enumStatus, kStatusNeverRun);
    window->hide();
    window->SchedulerTick();
    EXPECT_EQ(gBackups[0]->enumStatus, kStatusFinished);
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
        Click("cmdDelete");
    }
    EXPECT_EQ(boxes, std::vector<std::string>(2, GetMsg("strMsgRealyDelBackup")));
    EXPECT_EQ(prompted, std::vector<std::string>(2, "pw"));
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(gBackups[0]->sName, "Docs");
    EXPECT_EQ(home.Read("backups.ini"), SerializeBackups(gBackups)); // saved
}

} // namespace
