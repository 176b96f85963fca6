#include "platform/Process.h"

#include "platform/UniqueFd.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <utility>

extern char** environ;

namespace {

bool IsSeparator(char c) {
    return c == ' ' || c == '\t';
}

// Spawn settings freed with the object, whatever way Start leaves.
class SpawnSetup {
public:
    SpawnSetup() {
        actionsOk_ = ::posix_spawn_file_actions_init(&actions_) == 0;
        attrOk_ = ::posix_spawnattr_init(&attr_) == 0;
    }
    ~SpawnSetup() {
        if (actionsOk_)
            ::posix_spawn_file_actions_destroy(&actions_);
        if (attrOk_)
            ::posix_spawnattr_destroy(&attr_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // A tool that asks a question must not wait for an answer nobody gives,
    // and must not inherit the host's signal mask or ignored signals.
    // `input` is the read end of a pipe holding the child's whole input, or -1.
    bool Prepare(int input) {
        if (!actionsOk_ || !attrOk_)
            return false;
        const int opened = input >= 0
                               ? ::posix_spawn_file_actions_adddup2(&actions_, input, STDIN_FILENO)
                               : ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO,
                                                                    "/dev/null", O_RDONLY, 0);
        if (opened != 0)
            return false;
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (const int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT})
            sigaddset(&defaults, sig);
        return ::posix_spawnattr_setsigmask(&attr_, &none) == 0 &&
               ::posix_spawnattr_setsigdefault(&attr_, &defaults) == 0 &&
               ::posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) ==
                   0;
    }

    const posix_spawn_file_actions_t* Actions() const { return &actions_; }
    const posix_spawnattr_t* Attributes() const { return &attr_; }

private:
    posix_spawn_file_actions_t actions_{};
    posix_spawnattr_t attr_{};
    bool actionsOk_ = false;
    bool attrOk_ = false;
};

// A pipe whose read end holds `text` and then the end of input. The text is
// written before any child exists and while we hold the read end, so the
// write can neither block on a reader nor raise SIGPIPE; it must fit the
// pipe's buffer, which is grown when the system made it smaller.
UniqueFd PipeHolding(std::string_view text) {
    if (text.size() > kMaxChildInput)
        return UniqueFd();
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return UniqueFd();
    UniqueFd reader(ends[0]);
    UniqueFd writer(ends[1]);
    const int capacity = ::fcntl(writer.get(), F_GETPIPE_SZ);
    if (capacity < static_cast<int>(text.size()) &&
        ::fcntl(writer.get(), F_SETPIPE_SZ, static_cast<int>(text.size())) < 0)
        return UniqueFd();
    // The child reads with ordinary blocking reads.
    if (::fcntl(reader.get(), F_SETFL, 0) != 0 || !WriteAll(writer.get(), text.data(), text.size()))
        return UniqueFd();
    return reader;
}

} // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> arguments;
    const std::size_t size = commandLine.size();
    std::size_t i = 0;
    for (;;) {
        while (i < size && IsSeparator(commandLine[i]))
            ++i;
        if (i >= size)
            break;
        std::string argument;
        bool quoted = false;
        while (i < size && (quoted || !IsSeparator(commandLine[i]))) {
            const char c = commandLine[i];
            if (c == '\\') {
                std::size_t backslashes = 0;
                while (i < size && commandLine[i] == '\\') {
                    ++backslashes;
                    ++i;
                }
                if (i < size && commandLine[i] == '"') {
                    argument.append(backslashes / 2, '\\');
                    if (backslashes % 2 == 1) {
                        argument += '"';
                        ++i;
                    }
                    // An even count leaves the quote to group, below.
                } else {
                    argument.append(backslashes, '\\');
                }
                continue;
            }
            if (c == '"') {
                if (quoted && i + 1 < size && commandLine[i + 1] == '"') {
                    argument += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
                continue;
            }
            argument += c;
            ++i;
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

ChildProcess::~ChildProcess() {
    Release();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), started_(std::exchange(other.started_, false)),
      exitCode_(std::exchange(other.exitCode_, -1)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        Release();
        pid_ = std::exchange(other.pid_, -1);
        started_ = std::exchange(other.started_, false);
        exitCode_ = std::exchange(other.exitCode_, -1);
    }
    return *this;
}

void ChildProcess::Release() {
    if (pid_ > 0)
        Kill();
}

bool ChildProcess::Start(const std::string& commandLine, std::optional<std::string_view> input) {
    return Start(SplitCommandLine(commandLine), input);
}

bool ChildProcess::Start(const std::vector<std::string>& arguments,
                         std::optional<std::string_view> input) {
    if (started_ || arguments.empty() || arguments.front().empty())
        return false;
    UniqueFd inputReader;
    if (input) {
        inputReader = PipeHolding(*input);
        if (!inputReader.valid())
            return false;
    }
    std::vector<std::string> copies(arguments);
    std::vector<char*> argv;
    argv.reserve(copies.size() + 1);
    for (std::string& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    SpawnSetup setup;
    if (!setup.Prepare(inputReader.get()))
        return false;
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0], setup.Actions(), setup.Attributes(), argv.data(), environ) !=
        0)
        return false;
    pid_ = pid;
    started_ = true;
    exitCode_ = -1;
    return true;
}

void ChildProcess::Reaped(int status) {
    pid_ = -1;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ChildProcess::IsRunning() {
    if (pid_ <= 0)
        return false;
    for (;;) {
        int status = 0;
        const pid_t result = ::waitpid(pid_, &status, WNOHANG);
        if (result == 0)
            return true;
        if (result == pid_) {
            Reaped(status);
            return false;
        }
        if (errno == EINTR)
            continue;
        // Someone else reaped it (ECHILD): it has ended, with an unknown result.
        pid_ = -1;
        exitCode_ = -1;
        return false;
    }
}

void ChildProcess::Wait() {
    while (pid_ > 0) {
        int status = 0;
        const pid_t result = ::waitpid(pid_, &status, 0);
        if (result == pid_) {
            Reaped(status);
        } else if (result < 0 && errno != EINTR) {
            pid_ = -1;
            exitCode_ = -1;
        }
    }
}

void ChildProcess::Kill() {
    if (pid_ <= 0)
        return;
    // It may have ended on its own meanwhile; then its real result counts.
    if (!IsRunning())
        return;
    ::kill(pid_, SIGKILL);
    Wait();
}

ChildProcess RunProcess(const std::string& commandLine, std::optional<std::string_view> input) {
    ChildProcess process;
    process.Start(commandLine, input);
    return process;
}

bool IsProcessRunning(ChildProcess& process) {
    return process.IsRunning();
}
