#include "engine/ServiceMode.h"
#include "core/Globals.h"
#include "core/Registry.h"
#include "engine/Startup.h"
#include "i18n/Catalogue.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolder.h"
#include "support/StandInSystemctl.h"
#include "support/TestHost.h"

using Lines = std::vector<std::string>;

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
    std::string RunAsServiceSetting() const {
        return GetRegSetting(kAppName, kGeneralSettings, "RunAsService", "unset");
    }

    TempHome program;
    TestHost host;
};

TEST(ServiceCommandLine, IsTheArgumentsJoinedWithOneBlank) {
    const char* none[] = {"tidevault"};
    const char* two[] = {"tidevault", "/service", "start"};
    const char* blanks[] = {"tidevault", "", "a b", ""};
    EXPECT_EQ(CommandLineText(1, none), "");
    EXPECT_EQ(CommandLineText(3, two), "/service start");
    EXPECT_EQ(CommandLineText(4, blanks), " a b ");
}

TEST_F(ServiceMode, SwitchesInstallRemoveOrStopAndReportAsTheMainWindowMust) {
    struct Case {
        const char* commandLine;
        const char* failOn; // the systemctl call that fails
        int runAsServiceBefore;
        AfterSwitches after;
        Lines calls;
        const char* box; // empty: none
        MsgIcon icon;
        int runAsService; // gRunAsService afterwards
        const char* setting;
        const char* eventLog; // empty: none
    } cases[] = {
        {"/i",
         "",
         0,
         AfterSwitches::Quit,
         {"--user daemon-reload", "--user enable Tidevault.service"},
         "Tidevault service service installed!",
         MsgIcon::Information,
         1,
         "1",
         ""},
        {"/i",
         "enable",
         1,
         AfterSwitches::Quit,
         {"--user daemon-reload", "--user enable Tidevault.service"},
         "Tidevault service failed to install!",
         MsgIcon::Critical,
         0,
         "0",
         "Installservice->[3]systemctl --user enable Tidevault.service: failed"},
        // Running: stopped first. "/u" leaves the stored setting alone.
        {"/u",
         "",
         1,
         AfterSwitches::Quit,
         {"--user is-active --quiet Tidevault.service", "--user stop --no-block Tidevault.service",
          "--user disable Tidevault.service", "--user daemon-reload"},
         "Tidevault service uninstalled!",
         MsgIcon::Information,
         0,
         "unset",
         "Uninstallservice->[0]"},
        {"/u",
         "is-active",
         1,
         AfterSwitches::Quit,
         {"--user is-active --quiet Tidevault.service", "--user disable Tidevault.service",
          "--user daemon-reload"},
         "Tidevault service uninstalled!",
         MsgIcon::Information,
         0,
         "unset",
         "Uninstallservice->[0]"},
        {"/u",
         "disable",
         0,
         AfterSwitches::Quit,
         {"--user is-active --quiet Tidevault.service", "--user stop --no-block Tidevault.service",
          "--user disable Tidevault.service"},
         "Tidevault service failed to uninstall!",
         MsgIcon::Critical,
         1,
         "unset",
         "Uninstallservice->[3]systemctl --user disable Tidevault.service: failed"},
        {"/u",
         "stop",
         0,
         AfterSwitches::Quit,
         {"--user is-active --quiet Tidevault.service", "--user stop --no-block Tidevault.service"},
         "Tidevault service failed to uninstall!",
         MsgIcon::Critical,
         1,
         "unset",
         "Uninstallservice->[3]systemctl --user stop --no-block Tidevault.service: failed"},
        {"/service stop",
         "",
         0,
         AfterSwitches::GoOn,
         {"--user stop --no-block Tidevault.service"},
         "",
         MsgIcon::None,
         0,
         "unset",
         ""},
        {"/service restart",
         "stop",
         1,
         AfterSwitches::GoOn,
         {"--user stop --no-block Tidevault.service"},
         "",
         MsgIcon::None,
         1,
         "unset",
         ""},
        // Compared whole and case-sensitively: anything else only hands over.
        {"/service start", "", 0, AfterSwitches::GoOn, {}, "", MsgIcon::None, 0, "unset", ""},
        {"/I", "", 0, AfterSwitches::GoOn, {}, "", MsgIcon::None, 0, "unset", ""},
        {"/i ", "", 0, AfterSwitches::GoOn, {}, "", MsgIcon::None, 0, "unset", ""},
        {"", "", 1, AfterSwitches::GoOn, {}, "", MsgIcon::None, 1, "unset", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.commandLine) + " failing " + c.failOn);
        ::unlink(fake.File("calls").c_str());
        RemoveFile(SettingsFilePath());
        host.boxes.clear();
        eventLog.clear();
        FailOn(c.failOn);
        gRunAsService = c.runAsServiceBefore;

        EXPECT_EQ(HandleServiceSwitches(c.commandLine), c.after);
        EXPECT_EQ(Calls(), c.calls);
        if (*c.box != '\0') {
            ASSERT_EQ(host.boxes.size(), 1u);
            EXPECT_EQ(host.boxes[0].text, c.box);
            EXPECT_EQ(host.boxes[0].icon, c.icon);
        } else {
            EXPECT_TRUE(host.boxes.empty());
        }
        EXPECT_EQ(gRunAsService, c.runAsService);
        EXPECT_EQ(RunAsServiceSetting(), c.setting);
        EXPECT_EQ(eventLog, *c.eventLog != '\0' ? Lines{c.eventLog} : Lines{});
    }
    EXPECT_TRUE(host.activity.empty()) << "not started by systemd: no start event";
}

TEST_F(ServiceMode, SettingsBoxKeepsItsOldStateWhenTheChangeFails) {
    const struct {
        bool wanted;
        const char* failOn;
        bool box;
    } cases[] = {
        {true, "", true}, {true, "enable", false}, {false, "", false}, {false, "disable", true}};
    for (const auto& c : cases) {
        FailOn(c.failOn);
        EXPECT_EQ(ChangeServiceMode(c.wanted), c.box) << c.wanted << c.failOn;
    }
}

TEST_F(ServiceMode, UnderSystemdTheStartEventIsLoggedOnceAndSystemdToldReady) {
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
    ASSERT_EQ(host.activity.size(), 1u);
    EXPECT_NE(host.activity[0].find("]-Tidevault started as a service ..."), std::string::npos)
        << host.activity[0];
    EXPECT_EQ(Received(fd), "READY=1");
    EXPECT_EQ(Received(fd), "");
    ::close(fd);

    ServiceStopped();
    ASSERT_EQ(host.activity.size(), 2u);
    EXPECT_NE(host.activity[1].find("Tidevault service stopped!"), std::string::npos);
}
