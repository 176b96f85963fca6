#include "core/Globals.h"
#include "core/RunControl.h"
#include "i18n/Catalogue.h"
#include "support/ProgramFolderSetup.h"
#include "ui/ApplyLanguage.h"
#include "ui/DesktopHost.h"
#include "ui/frmBackupProgress.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

template <typename T> T* Child(QWidget* window, const char* name) {
    T* child = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

QString Text(QWidget* window, const char* name) {
    return Child<QLabel>(window, name)->text();
}

bool SamePicture(const QIcon& icon, const char* file) {
    return icon.pixmap(16).toImage() == QIcon(QString::fromLatin1(file)).pixmap(16).toImage();
}

// Lets the event loop run until `done` holds; false when it never did.
template <typename Done> bool RunEventsUntil(Done done) {
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
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
    // Each row is applied to both bars in turn; outside 0-100 keeps the last shown value.
    const struct {
        double value;
        const char* label;
        int bar;
    } rows[] = {{45, "45.00%", 45},    {7.5, "7.50%", 8},       {-0.01, "7.50%", 8},
                {100, "100.00%", 100}, {100.5, "100.00%", 100}, {0, "0.00%", 0},
                {NAN, "0.00%", 0},     {-250, "0.00%", 0},      {33.333, "33.33%", 33}};
    for (const auto& row : rows) {
        Update("file", row.value, row.value);
        for (const char* suffix : {"1", "2"}) {
            const std::string label = std::string("lblPercent") + suffix;
            const std::string bar = std::string("ProgressBar") + suffix;
            EXPECT_EQ(Text(window, label.c_str()).toStdString(), row.label) << row.value;
            EXPECT_EQ(Child<QProgressBar>(window, bar.c_str())->value(), row.bar) << row.value;
        }
    }
    // A new window section starts both bars at 0 again.
    host.ShowProgress("Zipping");
    EXPECT_EQ(Text(window, "lblPercent2"), "0.00%");
    EXPECT_EQ(window->windowTitle(), "Zipping");
}

TEST_F(ProgressWindow, ShortensTheFileTextToFiftyCharactersKeepingBothEnds) {
    for (int length : {49, 50, 51, 300}) {
        QString text;
        for (int i = 0; i < length; ++i)
            text += QChar(u'a' + i % 26);
        Update(text.toStdString(), 0, 0);
        const QString shown = Text(window, "lblFile");
        if (length <= 50) {
            EXPECT_EQ(shown, text);
            continue;
        }
        EXPECT_EQ(shown.size(), 50) << length;
        EXPECT_EQ(shown, text.left(23) + "..." + text.right(24)) << length;
    }
}

TEST_F(ProgressWindow, PaintsTheLastStateOfABurstOnceTheEventLoopRuns) {
    for (int i = 0; i <= 1000; ++i)
        host.UpdateProgress("Backup", "file " + std::to_string(i), 100, i / 10.0);
    EXPECT_TRUE(RunEventsUntil([&] { return Text(window, "lblFile") == "file 1000"; }));
    EXPECT_EQ(Text(window, "lblPercent2"), "100.00%");
}

TEST_F(ProgressWindow, PauseTogglesTheRunAndTheButtonsTextAndPicture) {
    auto* pause = Child<QPushButton>(window, "dGraphicButton2");
    EXPECT_EQ(pause->text(), "Pause");
    EXPECT_TRUE(SamePicture(pause->icon(), ":/icons/pause.svg"));
    pause->click();
    EXPECT_TRUE(IsRunPaused());
    EXPECT_EQ(pause->text(), "Continue");
    EXPECT_TRUE(SamePicture(pause->icon(), ":/icons/continue.svg"));
    pause->click();
    EXPECT_FALSE(IsRunPaused());
    EXPECT_EQ(pause->text(), "Pause");
    EXPECT_TRUE(SamePicture(pause->icon(), ":/icons/pause.svg"));

    Child<QPushButton>(window, "dGraphicButton1")->click();
    EXPECT_TRUE(gSkipRequest);
    EXPECT_FALSE(gAbort);
}

TEST_F(ProgressWindow, CancelAsksOnlyWhileTheMainWindowIsVisible) {
    const struct {
        bool mainVisible;
        MsgAnswer answer;
        bool asked;
        bool aborted;
        bool windowKept;
    } rows[] = {{true, MsgAnswer::No, true, false, true},
                {true, MsgAnswer::Yes, true, true, false},
                {false, MsgAnswer::No, false, true, true}};
    for (const auto& row : rows) {
        TearDown(); // a fresh run and window per row
        SetUp();
        mainVisible = row.mainVisible;
        answer = row.answer;
        questions.clear();
        Child<QPushButton>(window, "cmdCancel")->click();
        EXPECT_EQ(!questions.empty(), row.asked) << row.mainVisible;
        if (row.asked) {
            EXPECT_EQ(questions.front(), GetMsg("strMsgRealyCancel"));
        }
        EXPECT_EQ(gAbort, row.aborted) << row.mainVisible;
        EXPECT_EQ(host.ProgressWindow() != nullptr, row.windowKept) << row.mainVisible;
        host.CloseProgress();
    }
}

TEST_F(ProgressWindow, TakesItsTextsFromTheLanguageFileAndKeepsEnglishWhereItHasNone) {
    TempHome home;
    home.Write("test.lng", "[msgStrings]\nstrMsgPause=Anhalten\n"
                           "[frmBackupProgress]\nCaption=Sicherung\ncmdCancel=&Abbrechen\n"
                           "dGraphicButton1=\n"
                           "[frmArray]\nlblInfo|2=Zwei\nlblTitle=Titel\n");
    gLanguageFile = home.File("test.lng");
    LoadMessageCatalogue(gLanguageFile);
    frmBackupProgress german;
    EXPECT_EQ(german.windowTitle(), "Sicherung");
    EXPECT_EQ(Child<QPushButton>(&german, "cmdCancel")->text(), "&Abbrechen");
    EXPECT_EQ(Child<QPushButton>(&german, "dGraphicButton1")->text(), "&Skip file");
    EXPECT_EQ(Child<QPushButton>(&german, "dGraphicButton2")->text(), "Anhalten");

    // A control array member reads "name|index", a single control its name.
    QWidget form;
    form.setObjectName("frmArray");
    auto* info = new QLabel("Info", &form);
    info->setObjectName("lblInfo");
    info->setProperty(kControlIndexProperty, 2);
    auto* title = new QLabel("Title", &form);
    title->setObjectName("lblTitle");
    ApplyLanguage(&form);
    EXPECT_EQ(info->text(), "Zwei");
    EXPECT_EQ(title->text(), "Titel");
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
    std::vector<std::string> suffixes;
    auto clickPause = [&] {
        if (frmBackupProgress* w = desktop.ProgressWindow())
            Child<QPushButton>(w, "dGraphicButton2")->click();
    };
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
