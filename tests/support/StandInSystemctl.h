#pragma once
#include "platform/ServiceComponent.h"
#include "support/TempHome.h"

#include <cstddef>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// A `systemctl` first on PATH that appends its arguments and "; " to a file and fails with
// status 3 for a call holding the word in $SYSTEMCTL_FAIL. HOME points into the temporary
// folder, the systemd variables are cleared, and system event-log entries are caught.
class StandInSystemctl : public ::testing::Test {
protected:
    void SetUp() override {
        fake.Write("bin/systemctl", "#!/bin/sh\nprintf '%s; ' \"$*\" >> \"$SYSTEMCTL_CALLS\"\n"
                                    "case \" $* \" in *\" $SYSTEMCTL_FAIL \"*) exit 3;; esac\n");
        ::chmod(fake.File("bin/systemctl").c_str(), 0755);
        ::setenv("PATH", fake.File("bin").c_str(), 1);
        ::setenv("SYSTEMCTL_CALLS", fake.File("calls").c_str(), 1);
        ::setenv("HOME", fake.File("home").c_str(), 1);
        ::setenv("SYSTEMCTL_FAIL", "", 1);
        for (const char* name : {"XDG_CONFIG_HOME", "INVOCATION_ID", "NOTIFY_SOCKET"})
            ::unsetenv(name);
        SetSystemEventLogSink([this](const std::string& text) { eventLog += text; });
    }
    void TearDown() override {
        SetSystemEventLogSink({});
        ::setenv("PATH", path.c_str(), 1);
        ::setenv("HOME", home.c_str(), 1);
    }

    static void FailOn(const char* word) { ::setenv("SYSTEMCTL_FAIL", word, 1); }
    // The calls so far, and a fresh record.
    std::string TakeCalls() {
        const std::string calls = fake.Read("calls");
        ::unlink(fake.File("calls").c_str());
        return calls;
    }
    std::string UnitPath() const {
        return fake.File("home/.config/systemd/user/Tidevault.service");
    }

    // systemd's notification socket, bound at `name` ("@" first: abstract).
    int ListenForNotify(const std::string& name) {
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{.sun_family = AF_UNIX};
        name.copy(address.sun_path, name.size());
        address.sun_path[0] = name.front() == '@' ? '\0' : name.front();
        EXPECT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&address),
                            offsetof(sockaddr_un, sun_path) + name.size()));
        ::setenv("NOTIFY_SOCKET", name.c_str(), 1);
        return fd;
    }
    static std::string Received(int fd) {
        char buffer[64];
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        return std::string(buffer, n < 0 ? 0 : static_cast<std::size_t>(n));
    }

    static std::string Env(const char* name) { return std::getenv(name) ? std::getenv(name) : ""; }
    const std::string path = Env("PATH"), home = Env("HOME");
    TempHome fake;
    std::string eventLog;
};
