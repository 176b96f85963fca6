#include "platform/ServiceComponent.h"

#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "platform/UniqueFd.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// systemctl answers in well under a second; one that hangs (a wedged user
// bus) must not freeze the program.
constexpr auto kSystemctlTimeout = std::chrono::seconds(30);

std::function<void(const std::string&)>& EventLogSink() {
    static std::function<void(const std::string&)> sink;
    return sink;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// One argument of a unit line in double quotes. systemd unescapes \\ and \"
// inside quotes, expands %-specifiers everywhere and, in ExecStart, $-variables.
std::string QuotedUnitWord(const std::string& word, bool execLine) {
    std::string quoted = "\"";
    for (const char c : word) {
        if (c == '\\' || c == '"')
            quoted += '\\';
        else if (c == '%' || (execLine && c == '$'))
            quoted += c;
        quoted += c;
    }
    return quoted + "\"";
}

bool Systemctl(const std::vector<std::string>& arguments, ServiceError& error) {
    std::vector<std::string> command = {"systemctl", "--user"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::string shown = "systemctl --user";
    for (const std::string& argument : arguments)
        shown += " " + argument;

    ChildProcess child;
    if (!child.Start(command)) {
        error = {-1, shown + ": systemctl could not be started (is it on PATH?)"};
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + kSystemctlTimeout;
    while (child.IsRunning()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            child.Kill();
            error = {-1, shown + ": no answer, stopped"};
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (child.ExitCode() != 0) {
        error = {child.ExitCode(), shown + ": failed"};
        return false;
    }
    return true;
}

int gTerminationWrite = -1;

void OnTermination(int) {
    const int saved = errno;
    [[maybe_unused]] const ssize_t n = ::write(gTerminationWrite, "T", 1);
    errno = saved;
}

ServiceError FileError(const std::string& what, const std::string& path, int err) {
    return {err, what + " " + path + ": " + std::strerror(err)};
}

} // namespace

std::string ServiceUnitFolder() {
    const std::string config = Environment("XDG_CONFIG_HOME");
    if (!config.empty() && config.front() == '/')
        return JoinPath(config, "systemd/user");
    const std::string home = Environment("HOME");
    if (home.empty())
        return "";
    return JoinPath(home, ".config/systemd/user");
}

std::string ServiceUnitPath() {
    const std::string folder = ServiceUnitFolder();
    return folder.empty() ? "" : JoinPath(folder, kServiceUnitName);
}

bool ServiceUnitText(const std::string& programFolder, std::string& text) {
    for (const unsigned char c : programFolder)
        if (c < 0x20 || c == 0x7f)
            return false;
    text = std::string("[Unit]\n"
                       "Description=") +
           kServiceDisplayName +
           "\n"
           "PartOf=graphical-session.target\n"
           "After=graphical-session.target\n"
           "\n"
           "[Service]\n"
           "Type=notify\n"
           "NotifyAccess=main\n"
           "Environment=" +
           QuotedUnitWord("TIDEVAULT_HOME=" + programFolder, false) +
           "\n"
           "ExecStart=" +
           QuotedUnitWord(JoinPath(programFolder, "tidevault"), true) +
           "\n"
           "Restart=on-failure\n"
           "\n"
           "[Install]\n"
           "WantedBy=graphical-session.target\n";
    return true;
}

bool InstallServiceUnit(const std::string& programFolder, ServiceError& error) {
    const std::string path = ServiceUnitPath();
    if (path.empty()) {
        error = {ENOENT, "Neither XDG_CONFIG_HOME nor HOME is set: no place for the unit"};
        return false;
    }
    std::string text;
    if (!ServiceUnitText(programFolder, text)) {
        error = {EINVAL, "The program folder " + programFolder +
                             " holds a control character, which a unit cannot hold"};
        return false;
    }
    if (!CreateFolderPath(ServiceUnitFolder())) {
        error = FileError("Cannot create", ServiceUnitFolder(), errno);
        return false;
    }
    if (!WriteFileAtomically(path, text)) {
        error = FileError("Cannot write", path, errno);
        return false;
    }
    return Systemctl({"daemon-reload"}, error) && Systemctl({"enable", kServiceUnitName}, error);
}

bool UninstallServiceUnit(ServiceError& error) {
    if (!Systemctl({"disable", kServiceUnitName}, error))
        return false;
    const std::string path = ServiceUnitPath();
    if (!path.empty() && ::unlink(path.c_str()) != 0 && errno != ENOENT) {
        error = FileError("Cannot remove", path, errno);
        return false;
    }
    return Systemctl({"daemon-reload"}, error);
}

bool IsServiceUnitActive() {
    ServiceError ignored;
    return Systemctl({"is-active", "--quiet", kServiceUnitName}, ignored);
}

bool StopServiceUnit(ServiceError& error) {
    return Systemctl({"stop", "--no-block", kServiceUnitName}, error);
}

bool StartedBySystemd() {
    return !Environment("INVOCATION_ID").empty() || !Environment("NOTIFY_SOCKET").empty();
}

bool NotifyServiceReady() {
    std::string name = Environment("NOTIFY_SOCKET");
    sockaddr_un address{};
    if (name.empty() || name.size() >= sizeof(address.sun_path))
        return false;
    address.sun_family = AF_UNIX;
    socklen_t length = offsetof(sockaddr_un, sun_path) + name.size();
    if (name.front() == '@')
        name.front() = '\0'; // an abstract name: no trailing NUL belongs to it
    else if (name.front() == '/')
        ++length;
    else
        return false;
    std::memcpy(address.sun_path, name.data(), name.size());

    const UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.valid())
        return false;
    static constexpr char kReady[] = "READY=1";
    return ::sendto(fd.get(), kReady, sizeof(kReady) - 1, MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&address),
                    length) == static_cast<ssize_t>(sizeof(kReady) - 1);
}

void WriteSystemEventLog(const std::string& text) {
    if (EventLogSink()) {
        EventLogSink()(text);
        return;
    }
    ::openlog(kServiceName, LOG_PID, LOG_USER);
    ::syslog(LOG_NOTICE, "%s", text.c_str());
}

void SetSystemEventLogSink(std::function<void(const std::string&)> sink) {
    EventLogSink() = std::move(sink);
}

int TerminationRequestFd() {
    static const int readEnd = [] {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
            return -1;
        gTerminationWrite = ends[1];
        struct sigaction action {};
        action.sa_handler = OnTermination;
        action.sa_flags = SA_RESTART;
        ::sigemptyset(&action.sa_mask);
        if (::sigaction(SIGTERM, &action, nullptr) != 0) {
            ::close(ends[0]);
            ::close(ends[1]);
            return -1;
        }
        return ends[0];
    }();
    return readEnd;
}
