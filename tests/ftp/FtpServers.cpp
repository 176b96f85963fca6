#include "ftp/FtpServers.h"

#include "support/TempHome.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStartLimitMs = 15000;
constexpr unsigned kNobody = 65534; // pure-ftpd refuses root; serve as nobody

std::string FindProgram(const std::string& name) {
    std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    path += ":/usr/sbin:/sbin:/usr/bin:/bin";
    std::size_t pos = 0;
    while (pos <= path.size()) {
        const std::size_t end = std::min(path.find(':', pos), path.size());
        const std::string candidate = path.substr(pos, end - pos) + "/" + name;
        if (end > pos && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        pos = end + 1;
    }
    return std::string();
}

// A child process started with posix_spawn, in its own process group so
// that whatever it forks goes with it.
struct Spawned {
    pid_t pid = -1;
    int output = -1; // read end of its stdout, when captured
};

Spawned Spawn(const std::vector<std::string>& args, bool captureOutput,
              const std::string& errorFile = "/dev/null") {
    Spawned child;
    int pipeFds[2] = {-1, -1};
    if (captureOutput && ::pipe2(pipeFds, O_CLOEXEC) != 0)
        return child;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (captureOutput)
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ) == 0)
        child.pid = pid;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (captureOutput) {
        ::close(pipeFds[1]);
        if (child.pid > 0)
            child.output = pipeFds[0];
        else
            ::close(pipeFds[0]);
    }
    return child;
}

// Stops a process group and reaps its leader: a polite SIGTERM first, then
// SIGKILL for one that does not listen.
void StopAndReap(pid_t pid) {
    if (pid <= 0)
        return;
    ::kill(-pid, SIGTERM);
    const Clock::time_point start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(5)) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// Reads the child's stdout until it ends, for at most the start limit.
std::string ReadAll(int fd) {
    std::string text;
    const Clock::time_point start = Clock::now();
    while (Clock::now() - start < std::chrono::milliseconds(kStartLimitMs)) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 100) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

// Runs a helper program to its end; its exit status, -1 when it could not
// run, with its output in `output`.
int RunToEnd(const std::vector<std::string>& args, std::string& output) {
    Spawned child = Spawn(args, true);
    if (child.pid <= 0)
        return -1;
    output = ReadAll(child.output);
    ::close(child.output);
    int status = 0;
    const Clock::time_point start = Clock::now();
    while (::waitpid(child.pid, &status, WNOHANG) != child.pid) {
        if (Clock::now() - start > std::chrono::milliseconds(kStartLimitMs)) {
            StopAndReap(child.pid);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The Python that has pyftpdlib: Debian's package installs it for the
// system interpreter, which need not be the first python3 on the PATH.
std::string PythonWithPyftpdlib() {
    for (const std::string& candidate : {std::string("/usr/bin/python3"), FindProgram("python3")}) {
        std::string output;
        if (!candidate.empty() && RunToEnd({candidate, "-c", "import pyftpdlib"}, output) == 0)
            return candidate;
    }
    return std::string();
}

int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok =
        fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
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
        if (FindProgram(program).empty()) {
            why = std::string(program) + " is not installed";
            return false;
        }
    }
    why = "pure-ftpd needs root";
    return ::geteuid() == 0;
}

std::unique_ptr<FtpServerProcess>
FtpServerProcess::Start(ServerKind kind, const ServerOptions& options, std::string& why) {
    if (kind == ServerKind::Pyftpdlib) {
        const std::string python = PythonWithPyftpdlib();
        std::vector<std::string> args = {
            python,       std::string(TIDEVAULT_FTP_TEST_DIR) + "/pyftpd_server.py",
            "--root",     options.root,
            "--user",     options.user,
            "--password", options.password};
        if (options.anonymous)
            args.push_back("--anonymous");
        Spawned child = Spawn(args, true);
        if (child.pid <= 0) {
            why = "cannot start " + python;
            return nullptr;
        }
        // The script prints "READY <port>" once it listens, then nothing more.
        std::string line;
        const Clock::time_point start = Clock::now();
        while (line.find('\n') == std::string::npos &&
               Clock::now() - start < std::chrono::milliseconds(kStartLimitMs)) {
            pollfd pfd{child.output, POLLIN, 0};
            if (::poll(&pfd, 1, 100) <= 0)
                continue;
            char c = 0;
            if (::read(child.output, &c, 1) != 1)
                break;
            line += c;
        }
        ::close(child.output);
        const int port = line.rfind("READY ", 0) == 0 ? std::atoi(line.c_str() + 6) : 0;
        if (port <= 0 || !Accepts(port)) {
            StopAndReap(child.pid);
            why = "pyftpdlib did not come up";
            return nullptr;
        }
        return std::unique_ptr<FtpServerProcess>(new FtpServerProcess(child.pid, port));
    }

    // pure-ftpd reads its users from a puredb file made from a passwd-style
    // file whose hash comes from `openssl passwd -6`. The server drops to the
    // user's uid, so the served folder belongs to nobody.
    if (::chown(options.root.c_str(), kNobody, kNobody) != 0) {
        why = "cannot hand the served folder to nobody";
        return nullptr;
    }
    static TempHome work; // user files of every pure-ftpd the test process starts
    static int serial = 0;
    const std::string base = work.File("pure" + std::to_string(++serial));
    std::string hash;
    if (RunToEnd({FindProgram("openssl"), "passwd", "-6", options.password}, hash) != 0) {
        why = "openssl passwd failed";
        return nullptr;
    }
    WriteTestFile(base + ".passwd", options.user + ":" + Trimmed(hash) + ":" +
                                        std::to_string(kNobody) + ":" + std::to_string(kNobody) +
                                        "::" + options.root + "/./::::::::::::\n");
    std::string output;
    if (RunToEnd({FindProgram("pure-pw"), "mkdb", base + ".pdb", "-f", base + ".passwd"}, output) !=
        0) {
        why = "pure-pw mkdb failed: " + output;
        return nullptr;
    }

    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int port = FreeLoopbackPort();
        // Passive ports above the system's ephemeral range, so they do not
        // collide with outgoing connections.
        const int low = 61000 + static_cast<int>(random() % 3800);
        std::vector<std::string> server = {FindProgram("pure-ftpd"),
                                           "-S",
                                           "127.0.0.1," + std::to_string(port),
                                           "-4",
                                           "-H",
                                           "-A",
                                           "-p",
                                           std::to_string(low) + ":" + std::to_string(low + 100),
                                           "-P",
                                           "127.0.0.1",
                                           "-l",
                                           "puredb:" + base + ".pdb"};
        std::vector<std::string> args = server;
        if (options.anonymous) {
            // An "ftp" account exists only for this server: /etc/passwd is
            // replaced by a copy with it in a mount namespace of its own.
            std::string users = ReadTestFile("/etc/passwd");
            if (!users.empty() && users.back() != '\n')
                users += '\n';
            users += "ftp:x:" + std::to_string(kNobody) + ":" + std::to_string(kNobody) +
                     ":ftp:" + options.root + ":/usr/sbin/nologin\n";
            WriteTestFile(base + ".users", users);
            args = {FindProgram("unshare"),
                    "-m",
                    "sh",
                    "-c",
                    "mount --bind \"$0\" /etc/passwd && exec \"$@\"",
                    base + ".users"};
            args.insert(args.end(), server.begin(), server.end());
        }
        Spawned child = Spawn(args, false, base + ".stderr");
        if (child.pid <= 0) {
            why = "cannot start pure-ftpd";
            return nullptr;
        }
        const Clock::time_point start = Clock::now();
        bool exited = false;
        while (Clock::now() - start < std::chrono::milliseconds(kStartLimitMs)) {
            if (::waitpid(child.pid, nullptr, WNOHANG) == child.pid) {
                exited = true;
                break;
            }
            if (Accepts(port))
                return std::unique_ptr<FtpServerProcess>(new FtpServerProcess(child.pid, port));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!exited)
            StopAndReap(child.pid);
        why = "pure-ftpd did not come up: " + ReadTestFile(base + ".stderr");
    }
    return nullptr;
}

FtpServerProcess::~FtpServerProcess() {
    StopAndReap(pid_);
}
