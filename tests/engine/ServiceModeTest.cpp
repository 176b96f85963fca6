#include "engine/ServiceMode.h"
#include "core/Globals.h"
#include "core/Registry.h"
#include "engine/Startup.h"
#include "i18n/Catalogue.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolder.h"
#include "support/StandInSystemctl.h"
#include "support/TestHost.h"

class ServiceMode : public StandInSystemctl {
protected:
    void SetUp() override {
        StandInSystemctl::SetUp();
        SetProgramFolder(program.Path());
        LoadMessageCatalogue("");
    }
    void TearDown() override {
        SetProgramFolder("");
        StandInSystemctl::TearDown();
    }
    TempHome program;
    TestHost host;
};

TEST_F(ServiceMode, SwitchesInstallRemoveOrStopAndReportAsTheMainWindowMust) {
    constexpr const char* kStop = "--user stop --no-block Tidevault.service; ";
    constexpr const char* kActive = "--user is-active --quiet Tidevault.service; ";
    const std::string kRemove = "--user disable Tidevault.service; --user daemon-reload; ";
    const struct {
        const char* commandLine;
        const char* failOn;
        int wishBefore, wishAfter; // gRunAsService
        std::string calls;
        const char* box; // the box's text; its icon: critical when it says "failed"
        const char* setting;
        const char* eventLog;
    } cases[] = {
        {"/i", "", 0, 1, "--user daemon-reload; --user enable Tidevault.service; ",
         "Tidevault service service installed!", "1", ""},
        {"/i", "enable", 1, 0, "--user daemon-reload; --user enable Tidevault.service; ",
         "Tidevault service failed to install!", "0",
         "Installservice->[3]systemctl --user enable Tidevault.service: failed"},
        // A running service is stopped first; "/u" leaves the stored setting alone.
        {"/u", "", 1, 0, kActive + (kStop + kRemove), "Tidevault service uninstalled!", "-",
         "Uninstallservice->[0]"},
        {"/u", "is-active", 1, 0, kActive + kRemove, "Tidevault service uninstalled!", "-",
         "Uninstallservice->[0]"},
        {"/u", "stop", 0, 1, std::string(kActive) + kStop, "Tidevault service failed to uninstall!",
         "-", "Uninstallservice->[3]systemctl --user stop --no-block Tidevault.service: failed"},
        {"/service stop", "", 0, 0, kStop, "", "-", ""},
        {"/service restart", "stop", 1, 1, kStop, "", "-", ""},
        // Compared whole and case-sensitively: anything else only hands over.
        {"/service start", "", 0, 0, "", "", "-", ""},
        {"/I", "", 0, 0, "", "", "-", ""},
        {"/i ", "", 1, 1, "", "", "-", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.commandLine) + " failing " + c.failOn);
        RemoveFile(SettingsFilePath());
        host.boxes.clear();
        eventLog.clear();
        FailOn(c.failOn);
        gRunAsService = c.wishBefore;
        const bool quits = c.commandLine == std::string("/i") || c.commandLine == std::string("/u");
        EXPECT_EQ(HandleServiceSwitches(c.commandLine) == AfterSwitches::Quit, quits);
        EXPECT_EQ(TakeCalls(), c.calls);
        ASSERT_EQ(host.boxes.size(), *c.box ? 1u : 0u);
        if (*c.box) {
            EXPECT_EQ(host.boxes[0].text, c.box);
            EXPECT_EQ(host.boxes[0].icon, std::string(c.box).find("failed") != std::string::npos
                                              ? MsgIcon::Critical
                                              : MsgIcon::Information);
        }
        EXPECT_EQ(gRunAsService, c.wishAfter);
        EXPECT_EQ(GetRegSetting(kAppName, kGeneralSettings, "RunAsService", "-"), c.setting);
        EXPECT_EQ(eventLog, c.eventLog);
    }
    EXPECT_TRUE(host.activity.empty()) << "not started by systemd: no start event";
    // The switches are the arguments joined with one blank, empty ones too.
    const char* args[] = {"tidevault", "/service", "start", "", "a b"};
    EXPECT_EQ(CommandLineText(1, args) + "|" + CommandLineText(5, args), "|/service start  a b");

    // Under systemd the start event is logged once and systemd told ready.
    gRunAsService = 1;
    StartServiceIfWanted();
    EXPECT_TRUE(host.activity.empty());

    const int fd = ListenForNotify(fake.File("notify"));
    gRunAsService = 0;
    StartServiceIfWanted();
    HandleServiceSwitches("/service stop");
    EXPECT_TRUE(host.activity.empty());
    EXPECT_EQ(Received(fd), "");

    HandleServiceSwitches("/service restart");
    gRunAsService = 1;
    StartServiceIfWanted();
    ServiceStopped();
    ASSERT_EQ(host.activity.size(), 2u);
    EXPECT_NE(host.activity[0].find("]-Tidevault started as a service ..."), std::string::npos);
    EXPECT_NE(host.activity[1].find("]-Tidevault service stopped!"), std::string::npos);
    EXPECT_EQ(Received(fd), "READY=1");
    EXPECT_EQ(Received(fd), "");
    ::close(fd);
}
