#include "ftp/FtpServers.h"

#include "support/TempHome.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <optional>
#include <random>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStartLimit = std::chrono::seconds(15);
constexpr unsigned kNobody = 65534; // pure-ftpd refuses root; serve as nobody

std::string FindProgram(const std::string& name) {
    const char* env = std::getenv("PATH");
    const std::string path = std::string(env != nullptr ? env : "") + ":/usr/sbin:/usr/bin";
    for (std::size_t pos = 0, end; pos < path.size(); pos = end + 1) {
        end = std::min(path.find(':', pos), path.size());
        const std::string candidate = path.substr(pos, end - pos) + "/" + name;
        if (end > pos && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::string();
}

// A helper program's output without its line end; nothing unless it ended
// with status 0.
std::optional<std::string> OutputOf(const std::string& command) {
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        text.append(buffer, n);
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return ::pclose(pipe) == 0 ? std::optional<std::string>(text) : std::nullopt;
}

// The Python that has pyftpdlib: Debian's package installs it for the
// system interpreter, which need not be the first python3 on the PATH.
std::string PythonWithPyftpdlib() {
    for (const std::string& python : {std::string("/usr/bin/python3"), FindProgram("python3")})
        if (!python.empty() && OutputOf(python + " -c 'import pyftpdlib'"))
            return python;
    return std::string();
}

// Started in its own process group, so that whatever it forks goes with it.
pid_t Spawn(const std::vector<std::string>& args, const std::string& errorFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return pid;
}

// A polite SIGTERM first, then SIGKILL for a group that does not listen.
void StopAndReap(pid_t pid) {
    ::kill(-pid, SIGTERM);
    for (const Clock::time_point start = Clock::now(); Clock::now() - start < kStartLimit / 3;) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// Connects to the loopback port; with `port` 0, binds a free one instead
// and returns its number.
int ProbeLoopback(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    const bool ok = port != 0
                        ? ::connect(fd, reinterpret_cast<sockaddr*>(&a), length) == 0
                        : ::bind(fd, reinterpret_cast<sockaddr*>(&a), length) == 0 &&
                              ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0;
    ::close(fd);
    return ok ? ntohs(a.sin_port) : 0;
}

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

} // namespace

const char* ServerName(ServerKind kind) {
    return kind == ServerKind::Pyftpdlib ? "pyftpdlib" : "pure-ftpd";
}

bool ServerInstalled(ServerKind kind, std::string& why) {
    if (kind == ServerKind::Pyftpdlib) {
        why = "python3-pyftpdlib is not installed";
        return !PythonWithPyftpdlib().empty();
    }
    for (const char* program : {"pure-ftpd", "pure-pw", "openssl"}) {
        why = std::string(program) + " is not installed";
        if (FindProgram(program).empty())
            return false;
    }
    why = "pure-ftpd needs root";
    return ::geteuid() == 0;
}

std::unique_ptr<FtpServerProcess>
FtpServerProcess::Start(ServerKind kind, const ServerOptions& options, std::string& why) {
    static TempHome work; // user files and error output of every server started
    static int serial = 0;
    const std::string base = work.File("server" + std::to_string(++serial));
    std::vector<std::string> args;
    if (kind == ServerKind::Pyftpdlib) {
        args = {PythonWithPyftpdlib(), std::string(TIDEVAULT_FTP_TEST_DIR) + "/pyftpd_server.py",
                options.root, options.user, options.password};
        if (options.anonymous)
            args.push_back("--anonymous");
        args.push_back("--port");
    } else {
        // pure-ftpd reads its users from a puredb file made from a passwd-style
        // file; the hash from `openssl passwd -6` checks fast. The server drops
        // to the user's uid, so the served folder belongs to nobody.
        WriteTestFile(base + ".pw", options.password);
        const std::optional<std::string> hash =
            OutputOf("openssl passwd -6 -in " + Quoted(base + ".pw"));
        WriteTestFile(base + ".passwd", options.user + ":" + hash.value_or("") +
                                            ":65534:65534::" + options.root + "/./::::::::::::\n");
        if (!hash || ::chown(options.root.c_str(), kNobody, kNobody) != 0 ||
            !OutputOf("pure-pw mkdb " + Quoted(base + ".pdb") + " -f " +
                      Quoted(base + ".passwd"))) {
            why = "cannot prepare pure-ftpd's user file";
            return nullptr;
        }
        // Passive ports above the system's ephemeral range, so they do not
        // collide with outgoing connections.
        const int low = 61000 + static_cast<int>(std::random_device{}() % 3800);
        args = {FindProgram("pure-ftpd"),
                "-4",
                "-H",
                "-A",
                "-P",
                "127.0.0.1",
                "-p",
                std::to_string(low) + ":" + std::to_string(low + 100),
                "-l",
                "puredb:" + base + ".pdb",
                "-S"};
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int port = ProbeLoopback(0);
        std::vector<std::string> withPort = args;
        withPort.push_back((kind == ServerKind::PureFtpd ? "127.0.0.1," : "") +
                           std::to_string(port));
        const pid_t pid = Spawn(withPort, base + ".stderr");
        bool exited = pid <= 0;
        for (const Clock::time_point start = Clock::now();
             !exited && Clock::now() - start < kStartLimit;) {
            exited = ::waitpid(pid, nullptr, WNOHANG) == pid;
            if (!exited && ProbeLoopback(port) == port)
                return std::unique_ptr<FtpServerProcess>(new FtpServerProcess(pid, port));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!exited)
            StopAndReap(pid);
        why = std::string(ServerName(kind)) + " did not come up: " + ReadTestFile(base + ".stderr");
    }
    return nullptr;
}

FtpServerProcess::~FtpServerProcess() {
    StopAndReap(pid_);
}
