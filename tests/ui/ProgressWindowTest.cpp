#include "WindowFixture.h"
#include "core/RunControl.h"
#include "ui/ApplyLanguage.h"
#include "ui/QtTranslations.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <cmath>

namespace {

// A run in progress with its window; Cancel questions are answered No.
class ProgressWindow : public WindowTest {
protected:
    void SetUp() override { WindowTest::SetUp(), answer = MsgAnswer::No, Start(); }
    void TearDown() override { Stop(), WindowTest::TearDown(); }
    void Start() {
        run = std::make_unique<RunFlagsHeld>();
        desktop.ShowProgress("");
        window = desktop.ProgressWindow();
        ASSERT_NE(window, nullptr);
    }
    void Stop() { desktop.CloseProgress(), run.reset(); }
    std::unique_ptr<RunFlagsHeld> run;
    frmBackupProgress* window = nullptr;
};

TEST_F(ProgressWindow,
       ShowsPercentagesWithTwoDecimalsIgnoresValuesOutsideTheBarsAndShortensTheFile) {
    // Applied to both bars in turn; a value outside 0-100 keeps the last one shown.
    // clang-format off
    const struct { double value; const char* label; int bar; } rows[] = {
        {45, "45.00%", 45}, {7.5, "7.50%", 8}, {-0.01, "7.50%", 8}, {100, "100.00%", 100},
        {100.5, "100.00%", 100}, {0, "0.00%", 0}, {NAN, "0.00%", 0}, {-250, "0.00%", 0},
        {33.333, "33.33%", 33}};
    // clang-format on
    for (const auto& row : rows) {
        desktop.UpdateProgress("Backup", "file", row.value, row.value);
        window->ShowPending();
        for (const std::string bar : {"1", "2"}) {
            EXPECT_EQ(Child(window, "lblPercent" + bar)->text().toStdString(), row.label)
                << row.value;
            EXPECT_EQ(Child<QProgressBar>(window, "ProgressBar" + bar)->value(), row.bar);
        }
    }
    // The next section of the run starts both bars at 0 again.
    desktop.ShowProgress("Zipping");
    EXPECT_EQ(Child(window, "lblPercent2")->text(), "0.00%");
    EXPECT_EQ(window->windowTitle(), "Zipping");
    // The file text is shortened to fifty characters, keeping both ends.
    for (int length : {49, 50, 51, 300}) {
        const QString text = QString("abcdefghijklmnopqrstuvwxyz").repeated(12).left(length);
        desktop.UpdateProgress("Backup", text.toStdString(), 0, 0);
        window->ShowPending();
        EXPECT_EQ(Child(window, "lblFile")->text(),
                  length <= 50 ? text : text.left(23) + "..." + text.right(24))
            << length;
    }
}

TEST_F(ProgressWindow, PaintsTheLastStateOfABurstOnceTheEventLoopRuns) {
    double shown = -1; // the last value painted
    desktop.onProgressValue = [&](const std::string&, double percent) { shown = percent; };
    for (int i = 0; i <= 1000; ++i)
        desktop.UpdateProgress("Backup", "file " + std::to_string(i), 100, i / 10.0);
    QElapsedTimer waited;
    waited.start();
    while (Child(window, "lblFile")->text() != "file 1000" && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(Child(window, "lblFile")->text(), "file 1000");
    EXPECT_EQ(Child(window, "lblPercent2")->text(), "100.00%");
    EXPECT_EQ(shown, 100.0);
}

TEST_F(ProgressWindow, HandsTheRunsLogLinesOverNewestLastAndAllOfTheTailByItsEnd) {
    std::vector<int> shown; // line numbers in the order the main window got them
    std::string last;
    desktop.onActivityLines = [&](const std::vector<std::string>& lines) {
        for (const std::string& line : lines)
            shown.push_back(std::stoi(line));
    };
    desktop.onLastLogLine = [&](const std::string& line) { last = line; };
    const int count = static_cast<int>(DesktopHost::kActivityBatchLimit) + 500;
    for (int i = 0; i < count; ++i)
        desktop.AddActivityLine(std::to_string(i)), desktop.SetLastLogLine(std::to_string(i));
    Stop(); // the run's end hands over what was held back
    ASSERT_GE(shown.size(), DesktopHost::kActivityBatchLimit);
    EXPECT_EQ(std::adjacent_find(shown.begin(), shown.end(), std::greater_equal<>()), shown.end());
    EXPECT_EQ(shown.back() - *(shown.end() - DesktopHost::kActivityBatchLimit), 999);
    EXPECT_EQ(shown.back(), count - 1);
    EXPECT_EQ(last, std::to_string(count - 1));
    desktop.onActivityLines = nullptr; // outside a run, each line as it comes
    desktop.onActivityLine = [&](const std::string& line) { last = line; };
    desktop.AddActivityLine("alone");
    EXPECT_EQ(last, "alone");
}

TEST_F(ProgressWindow, IsShownAndCancelAsksOnlyWhileTheMainWindowIsVisible) {
    // clang-format off
    const struct { bool mainVisible; MsgAnswer answer; bool asked, aborted, windowKept; } rows[] = {
        {true, MsgAnswer::No, true, false, true}, {true, MsgAnswer::Yes, true, true, false},
        {false, MsgAnswer::No, false, true, true}};
    // clang-format on
    for (const auto& row : rows) {
        Stop(); // a fresh run and window per row
        mainVisible = row.mainVisible;
        answer = row.answer;
        Start();
        EXPECT_EQ(window->isVisible(), row.mainVisible);
        Click(window, "dGraphicButton1"); // skip asks the archiver, nothing more
        EXPECT_TRUE(std::exchange(gSkipRequest, false));
        Click(window, "cmdCancel");
        EXPECT_EQ(std::exchange(boxes, ""), row.asked ? GetMsg("strMsgRealyCancel") + "|" : "");
        EXPECT_EQ(gAbort, row.aborted) << row.mainVisible;
        EXPECT_EQ(desktop.ProgressWindow() != nullptr, row.windowKept) << row.mainVisible;
    }
}

TEST_F(ProgressWindow, TakesItsTextsFromTheLanguageFileAndKeepsEnglishWhereItHasNone) {
    home.Write("german.lng", "[msgStrings]\nstrMsgPause=Anhalten\n"
                             "[frmBackupProgress]\nCaption=Sicherung\ncmdCancel=&Abbrechen\n"
                             "dGraphicButton1=\n[frmArray]\nlblInfo|2=Zwei\nlblTitle=Titel\n");
    gLanguageFile = home.File("german.lng");
    LoadMessageCatalogue(gLanguageFile);
    frmBackupProgress german;
    QString texts = german.windowTitle();
    for (const char* name : {"cmdCancel", "dGraphicButton1", "dGraphicButton2"})
        texts += "|" + Child<QPushButton>(&german, name)->text();
    EXPECT_EQ(texts, "Sicherung|&Abbrechen|&Skip file|Anhalten");

    // A control array member reads "name|index", a single control its name.
    QWidget form;
    form.setObjectName("frmArray");
    QLabel info("Info", &form), title("Title", &form);
    info.setObjectName("lblInfo");
    info.setProperty(kControlIndexProperty, 2);
    title.setObjectName("lblTitle");
    ApplyLanguage(&form);
    EXPECT_EQ(info.text(), "Zwei");
    EXPECT_EQ(title.text(), "Titel");

    for (const char* yes : {"&Ja", "&Yes"}) { // Qt's own buttons follow, and go back with it
        UseQtTranslations();
        EXPECT_EQ(QMessageBox(QMessageBox::Question, "", "", QMessageBox::Yes)
                      .button(QMessageBox::Yes)
                      ->text(),
                  yes);
        gLanguageFile.clear();
    }
}

using ProgressWindowRun = WindowTest; // a real run of a small job, paused once

TEST_F(ProgressWindowRun, ShowsTheWindowPausesTheRunFromItsButtonAndClosesAtTheEnd) {
    PutSource("docs/a.txt", "alpha");
    PutSource("docs/sub/b.txt", "bravo");
    AddJob("Docs");
    const auto pause = [&] { Click(desktop.ProgressWindow(), "dGraphicButton2"); };
    std::string seen; // whether the window was up at its first value, then the caption suffixes
    desktop.onProgressValue = [&](const std::string&, double) {
        if (seen.empty()) // pause as soon as the window shows something, as a user would
            seen = desktop.ProgressWindow()->isVisible() ? "shown," : "hidden,", pause();
    };
    desktop.onCaptionSuffix = [&](const std::string& suffix) { // and the button's face
        const auto* button = Child<QPushButton>(desktop.ProgressWindow(), "dGraphicButton2");
        seen += suffix + button->text().toStdString() +
                (SamePicture(button->icon(), ":/icons/continue.svg") ? ">,"
                 : SamePicture(button->icon(), ":/icons/pause.svg")  ? "||,"
                                                                     : "?,");
        if (!suffix.empty()) // paused: continue at the next turn of the event loop
            QTimer::singleShot(0, pause);
    };
    EXPECT_EQ(Run("Docs")->enumStatus, kStatusFinished);
    EXPECT_EQ(seen, "shown,-PausedContinue>,Pause||,");
    EXPECT_EQ(desktop.ProgressWindow(), nullptr);
    EXPECT_EQ(DestinationIndex("Docs").size(), 2u);
}

} // namespace
