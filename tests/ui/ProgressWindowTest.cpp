#include "core/RunControl.h"
#include "support/ProgramFolderSetup.h"
#include "ui/ApplyLanguage.h"
#include "ui/DesktopHost.h"
#include "ui/QtTranslations.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <cmath>

namespace {

template <typename T = QLabel> T* Child(QWidget* window, const std::string& name) {
    T* child = window->findChild<T*>(QString::fromStdString(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

bool SamePicture(const QIcon& icon, const char* file) {
    return icon.pixmap(16).toImage() == QIcon(QString::fromLatin1(file)).pixmap(16).toImage();
}

// The desktop host with a run in progress and the main window visible;
// message boxes are answered by `answer` and recorded.
class ProgressWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ClearRunFlags();
        gLanguageFile.clear();
        LoadMessageCatalogue("");
        SetHost(&host);
        host.mainWindowVisible = [this] { return mainVisible; };
        host.answerer = [this](const std::string& text, MsgButtons, MsgIcon) {
            questions.push_back(text);
            return answer;
        };
        run = std::make_unique<RunFlagsHeld>();
        host.ShowProgress("");
        window = host.ProgressWindow();
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        host.CloseProgress();
        run.reset();
        SetHost(nullptr);
    }
    void Update(const std::string& text, double first, double second) {
        host.UpdateProgress("Backup", text, first, second);
        window->ShowPending();
    }

    DesktopHost host;
    bool mainVisible = true;
    MsgAnswer answer = MsgAnswer::No;
    std::vector<std::string> questions;
    std::unique_ptr<RunFlagsHeld> run;
    frmBackupProgress* window = nullptr;
};

TEST_F(ProgressWindow, ShowsPercentagesWithTwoDecimalsAndIgnoresValuesOutsideTheBars) {
    EXPECT_TRUE(window->isVisible());
    // Applied to both bars in turn; a value outside 0-100 keeps the last one shown.
    const struct {
        double value;
        const char* label;
        int bar;
    } rows[] = {{45, "45.00%", 45},    {7.5, "7.50%", 8},       {-0.01, "7.50%", 8},
                {100, "100.00%", 100}, {100.5, "100.00%", 100}, {0, "0.00%", 0},
                {NAN, "0.00%", 0},     {-250, "0.00%", 0},      {33.333, "33.33%", 33}};
    for (const auto& row : rows) {
        Update("file", row.value, row.value);
        for (const std::string bar : {"1", "2"}) {
            EXPECT_EQ(Child(window, "lblPercent" + bar)->text().toStdString(), row.label)
                << row.value;
            EXPECT_EQ(Child<QProgressBar>(window, "ProgressBar" + bar)->value(), row.bar);
        }
    }
    // The next section of the run starts both bars at 0 again.
    host.ShowProgress("Zipping");
    EXPECT_EQ(Child(window, "lblPercent2")->text(), "0.00%");
    EXPECT_EQ(window->windowTitle(), "Zipping");
}

TEST_F(ProgressWindow, ShortensTheFileTextToFiftyCharactersKeepingBothEnds) {
    for (int length : {49, 50, 51, 300}) {
        QString text;
        for (int i = 0; i < length; ++i)
            text += QChar(u'a' + i % 26);
        Update(text.toStdString(), 0, 0);
        EXPECT_EQ(Child(window, "lblFile")->text(),
                  length <= 50 ? text : text.left(23) + "..." + text.right(24))
            << length;
    }
}

TEST_F(ProgressWindow, PaintsTheLastStateOfABurstOnceTheEventLoopRuns) {
    std::vector<double> shown;
    host.onProgressValue = [&](const std::string&, double percent) { shown.push_back(percent); };
    for (int i = 0; i <= 1000; ++i)
        host.UpdateProgress("Backup", "file " + std::to_string(i), 100, i / 10.0);
    QElapsedTimer waited;
    waited.start();
    while (Child(window, "lblFile")->text() != "file 1000" && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(Child(window, "lblFile")->text(), "file 1000");
    EXPECT_EQ(Child(window, "lblPercent2")->text(), "100.00%");
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), 100.0);
}

TEST_F(ProgressWindow, PauseTogglesTheRunAndTheButtonsTextAndPictureSkipAsksTheArchiver) {
    auto* pause = Child<QPushButton>(window, "dGraphicButton2");
    for (const bool paused : {false, true, false}) {
        if (paused != IsRunPaused())
            pause->click();
        EXPECT_EQ(IsRunPaused(), paused);
        EXPECT_EQ(pause->text(), paused ? "Continue" : "Pause");
        EXPECT_TRUE(
            SamePicture(pause->icon(), paused ? ":/icons/continue.svg" : ":/icons/pause.svg"));
    }
    Child<QPushButton>(window, "dGraphicButton1")->click();
    EXPECT_TRUE(gSkipRequest);
    EXPECT_FALSE(gAbort);
}

TEST_F(ProgressWindow, IsShownAndCancelAsksOnlyWhileTheMainWindowIsVisible) {
    const struct {
        bool mainVisible;
        MsgAnswer answer;
        bool asked, aborted, windowKept;
    } rows[] = {{true, MsgAnswer::No, true, false, true},
                {true, MsgAnswer::Yes, true, true, false},
                {false, MsgAnswer::No, false, true, true}};
    for (const auto& row : rows) {
        TearDown(); // a fresh run and window per row
        mainVisible = row.mainVisible;
        answer = row.answer;
        SetUp();
        EXPECT_EQ(window->isVisible(), row.mainVisible);
        Child<QPushButton>(window, "cmdCancel")->click();
        EXPECT_EQ(questions, row.asked ? std::vector{GetMsg("strMsgRealyCancel")}
                                       : std::vector<std::string>{});
        EXPECT_EQ(gAbort, row.aborted) << row.mainVisible;
        EXPECT_EQ(host.ProgressWindow() != nullptr, row.windowKept) << row.mainVisible;
        questions.clear();
    }
}

TEST_F(ProgressWindow, TakesItsTextsFromTheLanguageFileAndKeepsEnglishWhereItHasNone) {
    TempHome home;
    home.Write("german.lng", "[msgStrings]\nstrMsgPause=Anhalten\n"
                             "[frmBackupProgress]\nCaption=Sicherung\ncmdCancel=&Abbrechen\n"
                             "dGraphicButton1=\n[frmArray]\nlblInfo|2=Zwei\nlblTitle=Titel\n");
    gLanguageFile = home.File("german.lng");
    LoadMessageCatalogue(gLanguageFile);
    frmBackupProgress german;
    EXPECT_EQ(german.windowTitle(), "Sicherung");
    EXPECT_EQ(Child<QPushButton>(&german, "cmdCancel")->text(), "&Abbrechen");
    EXPECT_EQ(Child<QPushButton>(&german, "dGraphicButton1")->text(), "&Skip file");
    EXPECT_EQ(Child<QPushButton>(&german, "dGraphicButton2")->text(), "Anhalten");

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

    // Qt's own buttons follow the language, and go back with it.
    UseQtTranslations();
    EXPECT_EQ(QMessageBox(QMessageBox::Question, "", "", QMessageBox::Yes)
                  .button(QMessageBox::Yes)
                  ->text(),
              "&Ja");
    gLanguageFile.clear();
    UseQtTranslations();
    EXPECT_EQ(QMessageBox(QMessageBox::Question, "", "", QMessageBox::Yes)
                  .button(QMessageBox::Yes)
                  ->text(),
              "&Yes");
}

// A real run of a small job under the desktop host, paused once through the window.
class ProgressWindowRun : public RunFixture {
protected:
    DesktopHost desktop;
};

TEST_F(ProgressWindowRun, ShowsTheWindowHoldsTheRunWhilePausedAndClosesTheWindowAtTheEnd) {
    PutSource("docs/a.txt", "alpha");
    PutSource("docs/sub/b.txt", "bravo");
    AddJob("Docs");
    SetHost(&desktop);
    desktop.answerer = [](const std::string&, MsgButtons b, MsgIcon) { return DefaultAnswer(b); };
    desktop.mainWindowVisible = [] { return true; };
    auto clickPause = [&] {
        if (frmBackupProgress* w = desktop.ProgressWindow())
            Child<QPushButton>(w, "dGraphicButton2")->click();
    };
    std::vector<std::string> suffixes;
    desktop.onCaptionSuffix = [&](const std::string& suffix) {
        suffixes.push_back(suffix);
        if (!suffix.empty()) // paused: continue at the next turn of the event loop
            QTimer::singleShot(0, clickPause);
    };
    // Pause as soon as the window is there, as a user would.
    bool shownWhenFirstSeen = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (desktop.ProgressWindow() == nullptr)
            return;
        watch.stop();
        shownWhenFirstSeen = desktop.ProgressWindow()->isVisible();
        clickPause();
    });
    watch.start(0);

    EXPECT_EQ(Run("Docs")->enumStatus, kStatusFinished);
    EXPECT_TRUE(shownWhenFirstSeen);
    EXPECT_EQ(suffixes, (std::vector<std::string>{"-Paused", ""}));
    EXPECT_EQ(desktop.ProgressWindow(), nullptr);
    EXPECT_EQ(DestinationIndex("Docs").size(), 2u);
}

} // namespace
