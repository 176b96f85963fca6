#pragma once
#include "platform/ServiceComponent.h"
#include "support/TempHome.h"

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

// A `systemctl` first on PATH that appends its arguments to a file, one call a
// line, and fails with status 3 for a call holding the word in
// $SYSTEMCTL_FAIL. HOME points into the temporary folder, the systemd
// variables are cleared, and system event-log entries are caught.
class StandInSystemctl : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"PATH", "HOME", "XDG_CONFIG_HOME", "INVOCATION_ID",
                                 "NOTIFY_SOCKET", "SYSTEMCTL_FAIL"})
            Keep(name);
        fake.Write("bin/systemctl", "#!/bin/sh\n"
                                    "echo \"$*\" >> \"$SYSTEMCTL_CALLS\"\n"
                                    "case \" $* \" in *\" $SYSTEMCTL_FAIL \"*) exit 3;; esac\n");
        ::chmod(fake.File("bin/systemctl").c_str(), 0755);
        ::setenv("PATH", (fake.File("bin") + ":/usr/bin:/bin").c_str(), 1);
        ::setenv("SYSTEMCTL_CALLS", fake.File("calls").c_str(), 1);
        ::setenv("HOME", fake.File("home").c_str(), 1);
        for (const char* name : {"XDG_CONFIG_HOME", "INVOCATION_ID", "NOTIFY_SOCKET"})
            ::unsetenv(name);
        SetSystemEventLogSink([this](const std::string& text) { eventLog.push_back(text); });
    }
    void TearDown() override {
        SetSystemEventLogSink({});
        for (const auto& [name, value] : kept)
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }

    static void FailOn(const char* word) { ::setenv("SYSTEMCTL_FAIL", word, 1); }
    std::vector<std::string> Calls() const {
        std::vector<std::string> calls;
        std::istringstream in(fake.Read("calls"));
        for (std::string line; std::getline(in, line);)
            calls.push_back(line);
        return calls;
    }
    std::string UnitPath() const {
        return fake.File("home/.config/systemd/user/Tidevault.service");
    }

    // A datagram socket bound at `name` ("@" first: abstract) standing in for
    // systemd's notification socket; NOTIFY_SOCKET names it.
    int ListenForNotify(const std::string& name) {
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        name.copy(address.sun_path, name.size());
        if (name.front() == '@')
            address.sun_path[0] = '\0';
        const socklen_t length = offsetof(sockaddr_un, sun_path) + name.size();
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), length), 0) << name;
        ::setenv("NOTIFY_SOCKET", name.c_str(), 1);
        return fd;
    }
    static std::string Received(int fd) {
        char buffer[64];
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        return n < 0 ? "" : std::string(buffer, static_cast<std::size_t>(n));
    }

    TempHome fake;
    std::vector<std::string> eventLog;

private:
    void Keep(const char* name) {
        const char* value = std::getenv(name);
        kept.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> kept;
};
