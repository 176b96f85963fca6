#include "platform/FileSystem.h"

#include "support/StandInSystemctl.h"
#include <csignal>

using Lines = std::vector<std::string>;
using ServiceUnit = StandInSystemctl;

TEST(ServiceUnitText, StartsTheDesktopProgramOfTheFolderWithItsHomeQuotedForSystemd) {
    std::string text;
    ASSERT_TRUE(ServiceUnitText("/opt/tv", text));
    EXPECT_EQ(text, "[Unit]\n"
                    "Description=Tidevault service\n"
                    "PartOf=graphical-session.target\n"
                    "After=graphical-session.target\n"
                    "\n"
                    "[Service]\n"
                    "Type=notify\n"
                    "NotifyAccess=main\n"
                    "Environment=\"TIDEVAULT_HOME=/opt/tv\"\n"
                    "ExecStart=\"/opt/tv/tidevault\"\n"
                    "Restart=on-failure\n"
                    "\n"
                    "[Install]\n"
                    "WantedBy=graphical-session.target\n");

    // Quotes and backslashes are escaped, % is doubled everywhere (specifiers),
    // $ only where systemd expands variables.
    ASSERT_TRUE(ServiceUnitText(R"(/h/a b"c\d%e$f)", text));
    EXPECT_NE(text.find("Environment=\"TIDEVAULT_HOME=/h/a b\\\"c\\\\d%%e$f\"\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("ExecStart=\"/h/a b\\\"c\\\\d%%e$$f/tidevault\"\n"), std::string::npos)
        << text;

    // A line break would end the line and let the rest act as unit settings.
    for (const char* bad : {"/h/a\nExecStartPre=/bin/rm", "/h/\t", "/h/\x7f"})
        EXPECT_FALSE(ServiceUnitText(bad, text)) << bad;
}

TEST_F(ServiceUnit, FolderFollowsXdgConfigHomeWhenAbsoluteElseHome) {
    EXPECT_EQ(ServiceUnitPath(), UnitPath());
    ::setenv("XDG_CONFIG_HOME", "relative/cfg", 1);
    EXPECT_EQ(ServiceUnitPath(), UnitPath());
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(ServiceUnitPath(), "/cfg/systemd/user/Tidevault.service");
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("HOME");
    EXPECT_EQ(ServiceUnitPath(), "");
    ServiceError error;
    EXPECT_FALSE(InstallServiceUnit("/opt/tv", error));
    EXPECT_TRUE(Calls().empty());
}

TEST_F(ServiceUnit, InstallWritesTheUnitReloadsAndEnables) {
    ServiceError error;
    ASSERT_TRUE(InstallServiceUnit("/opt/tv", error)) << error.description;
    std::string expected;
    ASSERT_TRUE(ServiceUnitText("/opt/tv", expected));
    EXPECT_EQ(ReadTestFile(UnitPath()), expected);
    EXPECT_EQ(Calls(), (Lines{"--user daemon-reload", "--user enable Tidevault.service"}));
}

TEST_F(ServiceUnit, InstallFailuresSayWhichStepAndStopThere) {
    struct Case {
        const char* failOn;   // systemctl call that fails
        const char* inTheWay; // a file where a folder is needed, or a folder at the unit
        bool noSystemctl;
        int number;
        const char* description; // part of it
        Lines calls;
    } cases[] = {
        {"enable",
         nullptr,
         false,
         3,
         "systemctl --user enable Tidevault.service: failed",
         {"--user daemon-reload", "--user enable Tidevault.service"}},
        {"daemon-reload",
         nullptr,
         false,
         3,
         "systemctl --user daemon-reload: failed",
         {"--user daemon-reload"}},
        {"", "home/.config/systemd", false, ENOTDIR, "Cannot create", {}},
        {"", "home/.config/systemd/user/Tidevault.service/", false, EISDIR, "Cannot write", {}},
        {"", nullptr, true, -1, "could not be started", {}},
    };
    for (const Case& c : cases) {
        ::unlink(fake.File("calls").c_str());
        std::filesystem::remove_all(fake.File("home"));
        FailOn(c.failOn);
        if (c.inTheWay != nullptr) {
            const std::string path = fake.File(c.inTheWay);
            path.back() == '/' ? (void)CreateFolderPath(path) : fake.Write(c.inTheWay, "x");
        }
        ::setenv("PATH", c.noSystemctl ? "/nonexistent" : fake.File("bin").c_str(), 1);
        ServiceError error;
        EXPECT_FALSE(InstallServiceUnit("/opt/tv", error)) << c.description;
        EXPECT_EQ(error.number, c.number) << c.description;
        EXPECT_NE(error.description.find(c.description), std::string::npos) << error.description;
        EXPECT_EQ(Calls(), c.calls) << c.description;
    }
}

TEST_F(ServiceUnit, UninstallDisablesRemovesAndReloadsStopAndQueryAskSystemctl) {
    fake.Write("home/.config/systemd/user/Tidevault.service", "unit");
    ServiceError error;
    ASSERT_TRUE(UninstallServiceUnit(error)) << error.description;
    EXPECT_FALSE(FileExists(UnitPath()));
    // A unit file already gone is no failure.
    ASSERT_TRUE(UninstallServiceUnit(error)) << error.description;
    EXPECT_TRUE(StopServiceUnit(error));
    EXPECT_TRUE(IsServiceUnitActive());
    EXPECT_EQ(Calls(), (Lines{"--user disable Tidevault.service", "--user daemon-reload",
                              "--user disable Tidevault.service", "--user daemon-reload",
                              "--user stop --no-block Tidevault.service",
                              "--user is-active --quiet Tidevault.service"}));

    // A failed disable keeps the unit file; an inactive unit is not running.
    fake.Write("home/.config/systemd/user/Tidevault.service", "unit");
    FailOn("disable");
    EXPECT_FALSE(UninstallServiceUnit(error));
    EXPECT_EQ(error.number, 3);
    EXPECT_TRUE(FileExists(UnitPath()));
    FailOn("is-active");
    EXPECT_FALSE(IsServiceUnitActive());
    FailOn("stop");
    EXPECT_FALSE(StopServiceUnit(error));
}

TEST_F(ServiceUnit, ReadyGoesToThePathOrAbstractNotifySocketOnlyWhenOneIsNamed) {
    EXPECT_FALSE(StartedBySystemd());
    EXPECT_FALSE(NotifyServiceReady());
    ::setenv("INVOCATION_ID", "0123", 1);
    EXPECT_TRUE(StartedBySystemd());
    EXPECT_FALSE(NotifyServiceReady());

    for (const std::string& name :
         {fake.File("notify"), "@tidevault-test-" + std::to_string(::getpid())}) {
        ::unsetenv("INVOCATION_ID");
        const int fd = ListenForNotify(name);
        EXPECT_TRUE(StartedBySystemd()) << name;
        EXPECT_TRUE(NotifyServiceReady()) << name;
        EXPECT_EQ(Received(fd), "READY=1") << name;
        ::close(fd);
    }
    // A name that is neither a path nor abstract, or a socket nobody holds.
    for (const std::string& name : {std::string("relative"), fake.File("gone")}) {
        ::setenv("NOTIFY_SOCKET", name.c_str(), 1);
        EXPECT_FALSE(NotifyServiceReady()) << name;
    }
}

TEST(ServiceTermination, SigtermMakesTheDescriptorReadableInsteadOfEndingTheProcess) {
    const int fd = TerminationRequestFd();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(TerminationRequestFd(), fd);
    char byte;
    EXPECT_EQ(::read(fd, &byte, 1), -1) << "nothing before the signal";
    ::raise(SIGTERM);
    ::raise(SIGTERM);
    EXPECT_EQ(::read(fd, &byte, 1), 1);
    ::signal(SIGTERM, SIG_DFL);
}
