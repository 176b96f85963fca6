#include "engine/Startup.h"
#include "core/Registry.h"
#include "support/ProgramFolderSetup.h"
#include "support/StandInSystemctl.h"
#include "ui/DesktopHost.h"
#include "ui/ProgramStart.h"
#include "ui/frmMain.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>

#include <future>
#include <regex>

// A program folder in English and the stand-in systemctl. Every box is recorded as "text|"
// ("text(critical)|" for a critical one); the quit question is answered with `quit`.
class Startup : public StandInSystemctl {
protected:
    void SetUp() override {
        StandInSystemctl::SetUp();
        PrepareProgramFolder(home);
        SetHost(&desktop);
        desktop.answerer = [this](const std::string& text, MsgButtons, MsgIcon icon) {
            boxes += text + (icon == MsgIcon::Critical ? "(critical)|" : "|");
            return quit;
        };
    }
    void TearDown() override {
        start.reset();
        SetHost(nullptr);
        ReleaseProgramFolder();
        StandInSystemctl::TearDown();
    }
    static void Setting(const char* name, const char* value) {
        SaveRegSetting(kAppName, kGeneralSettings, name, value);
    }
    // The program started with `commandLine` up to its main window.
    void StartProgram(const std::string& commandLine) {
        start = std::make_unique<ProgramStart>(desktop, commandLine);
        ASSERT_FALSE(start->Prepare().has_value()) << boxes;
        start->ShowMainWindow(gStyle);
    }

    TempHome home;
    DesktopHost desktop;
    std::unique_ptr<ProgramStart> start;
    std::string boxes;
    MsgAnswer quit = MsgAnswer::No;
};

TEST_F(Startup, SwitchesAndHiddenStartDecideWhatTheMainWindowDoes) {
    const std::string ask = "Do you really want to quit?|";
    // hide, stored: "HideWindowOnStart" and "RunAsService" before; wish: gRunAsService after.
    const struct {
        const char *commandLine, *failOn, *hide, *stored;
        MsgAnswer quit;
        std::string boxes;
        const char *call, *storedAfter;
        int wish;
        bool shown, ended;
    } cases[] = {
        {"/i", "", "0", "0", MsgAnswer::Yes, "Tidevault service service installed!|" + ask,
         "enable", "1", 1, false, true},
        {"/i", "enable", "0", "1", MsgAnswer::No,
         "Tidevault service failed to install!(critical)|" + ask, "enable", "0", 0, true, false},
        // Declined: runs on without the service while the stored wish stays.
        {"/u", "", "0", "1", MsgAnswer::No, "Tidevault service uninstalled!|" + ask, "disable", "1",
         0, true, false},
        {"/service stop", "", "0", "0", MsgAnswer::Yes, "", "stop --no-block", "0", 0, true, false},
        {"", "", "1", "0", MsgAnswer::Yes, "", "", "0", 0, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.commandLine) + " failing " + c.failOn);
        boxes.clear();
        gQuitting = gAbort = false; // the case before may have quit
        TakeCalls();
        FailOn(c.failOn);
        quit = c.quit;
        Setting("HideWindowOnStart", c.hide);
        Setting("RunAsService", c.stored);
        StartProgram(c.commandLine);
        EXPECT_EQ(boxes, c.boxes);
        EXPECT_NE(TakeCalls().find(c.call), std::string::npos);
        EXPECT_EQ(gRunAsService, c.wish);
        EXPECT_EQ(GetRegSetting(kAppName, kGeneralSettings, "RunAsService"), c.storedAfter);
        EXPECT_EQ(desktop.IsMainWindowVisible(), c.shown);
        EXPECT_EQ(home.Read("logs/tidevault.log").ends_with("-Program closed!\r\n"), c.ended);
        EXPECT_EQ(start->Window()->windowTitle().toStdString(), "Tidevault-ver1.0 rev. 1");
        start.reset();
        RemoveFile(home.File("logs/tidevault.log"));
    }
}

TEST_F(Startup, ASecondStartBringsTheHiddenWindowBackOrHearsThatThereIsNone) {
    // Asked from another thread, as from another process, while this one runs the program.
    const auto askToShow = [this] {
        auto answer = std::async(std::launch::async, [this] {
            return AskRunningProgramToShow(ShowRequestServerName(home.Path())).toStdString();
        });
        while (answer.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
            QCoreApplication::processEvents();
        return answer.get();
    };
    Setting("HideWindowOnStart", "1");
    StartProgram("");
    ASSERT_FALSE(desktop.IsMainWindowVisible());
    EXPECT_EQ(askToShow(), "shown\n");
    EXPECT_TRUE(desktop.IsMainWindowVisible());

    // A service on the offscreen platform has no window to show.
    start.reset();
    ::setenv("INVOCATION_ID", "0123", 1);
    StartProgram("");
    EXPECT_EQ(askToShow(), "no display\n");
    ::unsetenv("INVOCATION_ID");
    EXPECT_FALSE(desktop.IsMainWindowVisible());
}

TEST_F(Startup, StartsThatCannotGoOnSayWhyAndLeaveTheJobListAlone) {
    InstanceLock holder; // a holder without a window: tidevault-cli
    ASSERT_TRUE(holder.Acquire(home.Path()));
    EXPECT_EQ(ProgramStart(desktop, "").Prepare(), 1);
    EXPECT_EQ(boxes, "Another Tidevault process is using the program folder " + home.Path() +
                         "; try again when it has finished.|");
    holder.Release();

    boxes.clear();
    home.Write("backups.ini", "[Backups]\r\nKept as it is\r\n");
    ::rmdir(home.File("temp").c_str());
    home.Write("temp", "a file where the staging folder belongs");
    EXPECT_EQ(ProgramStart(desktop, "").Prepare(), 1);
    EXPECT_EQ(boxes, "Could not initialize system variables! Quitting ...(critical)|");
    EXPECT_EQ(home.Read("backups.ini"), "[Backups]\r\nKept as it is\r\n");
}

// Under systemd, with a display that cannot be reached: offscreen, and SIGTERM
// logs the stop, saves the job list and ends with 0.
TEST(ServiceProcess, EndsCleanlyOnSigterm) {
    TempHome home;
    ::symlink(TIDEVAULT_SOURCE_DIR "/Languages", home.File("Languages").c_str());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "NOTIFY_SOCKET"})
        env.remove(QString::fromLatin1(name));
    env.insert("DISPLAY", ":987");
    env.insert("INVOCATION_ID", "0123456789abcdef");
    env.insert("TIDEVAULT_HOME", QString::fromStdString(home.Path()));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(TIDEVAULT_PROGRAM, {});
    ASSERT_TRUE(program.waitForStarted(10000));
    const QDeadlineTimer deadline(20000);
    while (home.Read("logs/tidevault.log").find("as a service") == std::string::npos &&
           program.state() == QProcess::Running && !deadline.hasExpired())
        QThread::msleep(50);
    program.terminate(); // SIGTERM
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);

    EXPECT_EQ(std::regex_replace(home.Read("logs/tidevault.log"), std::regex(R"(\[[^\]]+\]-)"), ""),
              "Tidevault started ...\r\n0 backup items loaded!\r\nTidevault started as a service "
              "...\r\nTidevault service stopped!\r\nClosing program ...\r\nProgram closed!\r\n");
    EXPECT_EQ(home.Read("backups.ini").substr(0, 9), "[Backups]");
}
