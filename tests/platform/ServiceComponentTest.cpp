#include "platform/FileSystem.h"
#include "support/StandInSystemctl.h"

#include <csignal>
#include <filesystem>

using ServiceUnit = StandInSystemctl;

TEST_F(ServiceUnit, TheUnitStartsTheDesktopProgramAndInstallStopsAtTheFirstFailure) {
    std::string text;
    ASSERT_TRUE(ServiceUnitText("/opt/tv", text));
    EXPECT_EQ(text, "[Unit]\nDescription=Tidevault service\nPartOf=graphical-session.target\n"
                    "After=graphical-session.target\n\n[Service]\nType=notify\nNotifyAccess=main\n"
                    "Environment=\"TIDEVAULT_HOME=/opt/tv\"\nExecStart=\"/opt/tv/tidevault\"\n"
                    "Restart=on-failure\n\n[Install]\nWantedBy=graphical-session.target\n");
    // Quotes and backslashes escaped, % doubled (specifiers), $ only where
    // systemd expands variables.
    ASSERT_TRUE(ServiceUnitText(R"(/h/a b"c\d%e$f)", text));
    EXPECT_NE(text.find("Environment=\"TIDEVAULT_HOME=/h/a b\\\"c\\\\d%%e$f\"\n"
                        "ExecStart=\"/h/a b\\\"c\\\\d%%e$$f/tidevault\"\n"),
              std::string::npos)
        << text;
    // A line break would let the rest of the name act as unit settings.
    for (const char* bad : {"/h/a\nExecStartPre=/bin/rm", "/h/\t", "/h/\x7f"})
        EXPECT_FALSE(ServiceUnitText(bad, text)) << bad;
    // The systemctl call that fails; a file where a folder belongs, or a folder ("/") at
    // the unit; PATH instead of the stand-in's folder; the error, its text's start; the calls.
    // clang-format off
    const struct { const char *failOn, *inTheWay, *pathVar; int number;
                   const char *description, *calls; } cases[] = {
        {"", nullptr, nullptr, 0, "", "--user daemon-reload; --user enable Tidevault.service; "},
        {"enable", nullptr, nullptr, 3, "systemctl --user enable Tidevault.service: failed",
         "--user daemon-reload; --user enable Tidevault.service; "},
        {"daemon-reload", nullptr, nullptr, 3, "systemctl --user daemon-reload: failed",
         "--user daemon-reload; "},
        {"", "home/.config/systemd", nullptr, ENOTDIR, "Cannot create", ""},
        {"", "home/.config/systemd/user/Tidevault.service/", nullptr, EISDIR, "Cannot write", ""},
        {"", nullptr, "/nonexistent", -1,
         "systemctl --user daemon-reload: systemctl could not", ""}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        std::filesystem::remove_all(fake.File("home"));
        FailOn(c.failOn);
        if (c.inTheWay != nullptr && std::string(c.inTheWay).back() == '/')
            CreateFolderPath(fake.File(c.inTheWay));
        else if (c.inTheWay != nullptr)
            fake.Write(c.inTheWay, "x");
        ::setenv("PATH", c.pathVar ? c.pathVar : fake.File("bin").c_str(), 1);
        ServiceError error;
        EXPECT_EQ(InstallServiceUnit("/opt/tv", error), c.number == 0);
        EXPECT_EQ(error.number, c.number);
        EXPECT_EQ(error.description.rfind(c.description, 0), 0u) << error.description;
        EXPECT_EQ(TakeCalls(), c.calls);
    }
    ServiceUnitText("/opt/tv", text);
    ::setenv("XDG_CONFIG_HOME", fake.File("cfg").c_str(), 1);
    ::setenv("PATH", fake.File("bin").c_str(), 1);
    FailOn("");
    ServiceError error;
    ASSERT_TRUE(InstallServiceUnit("/opt/tv", error));
    EXPECT_EQ(fake.Read("cfg/systemd/user/Tidevault.service"), text);
    ::setenv("XDG_CONFIG_HOME", "relative", 1); // not absolute: ignored
    EXPECT_EQ(ServiceUnitPath(), UnitPath());
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("HOME");
    EXPECT_FALSE(InstallServiceUnit("/opt/tv", error));
}

TEST_F(ServiceUnit, UninstallStopRunningQueryAndReadinessAndTermination) {
    fake.Write("home/.config/systemd/user/Tidevault.service", "unit");
    ServiceError error;
    EXPECT_TRUE(UninstallServiceUnit(error));
    EXPECT_FALSE(FileExists(UnitPath()));
    EXPECT_TRUE(UninstallServiceUnit(error)) << "a unit file already gone is no failure";
    EXPECT_TRUE(StopServiceUnit(error));
    EXPECT_TRUE(IsServiceUnitActive());
    EXPECT_EQ(TakeCalls(), "--user disable Tidevault.service; --user daemon-reload; "
                           "--user disable Tidevault.service; --user daemon-reload; "
                           "--user stop --no-block Tidevault.service; "
                           "--user is-active --quiet Tidevault.service; ");
    fake.Write("home/.config/systemd/user/Tidevault.service", "unit");
    FailOn("disable");
    EXPECT_FALSE(UninstallServiceUnit(error));
    EXPECT_TRUE(FileExists(UnitPath()));
    FailOn("is-active");
    EXPECT_FALSE(IsServiceUnitActive());
    FailOn("stop");
    EXPECT_FALSE(StopServiceUnit(error));
    // Ready goes to the named notify socket only; termination to a descriptor.
    EXPECT_FALSE(StartedBySystemd());
    ::setenv("INVOCATION_ID", "0123", 1);
    EXPECT_TRUE(StartedBySystemd());
    EXPECT_FALSE(NotifyServiceReady());
    ::unsetenv("INVOCATION_ID");
    for (const std::string& name :
         {fake.File("notify"), "@tidevault-test-" + std::to_string(::getpid())}) {
        const int fd = ListenForNotify(name);
        EXPECT_TRUE(StartedBySystemd());
        EXPECT_TRUE(NotifyServiceReady());
        EXPECT_EQ(Received(fd), "READY=1") << name;
        ::close(fd);
    }
    for (const char* name : {"relative", "/nonexistent/socket"}) {
        ::setenv("NOTIFY_SOCKET", name, 1);
        EXPECT_FALSE(NotifyServiceReady()) << name;
    }
    // SIGTERM makes the descriptor readable instead of ending the process.
    const int fd = TerminationRequestFd();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(TerminationRequestFd(), fd);
    char byte;
    EXPECT_EQ(::read(fd, &byte, 1), -1) << "nothing before the signal";
    ::raise(SIGTERM);
    EXPECT_EQ(::read(fd, &byte, 1), 1);
    ::signal(SIGTERM, SIG_DFL);
}
