#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// Splits a command line into arguments the way the Windows C runtime does, so
// a command line built for that convention reaches the program unchanged:
// blanks and tabs separate; double quotes group and are removed; 2n
// backslashes before a quote give n backslashes and the quote groups, 2n+1
// give n backslashes and a literal quote; "" inside a quoted run is a literal
// quote; backslashes not before a quote are taken as they stand.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// The most a child can be handed on its standard input: the text is placed in
// the pipe before the child starts, so it must fit the pipe's buffer.
inline constexpr std::size_t kMaxChildInput = 65536;

// One started program. The process is always reaped: a child still running
// when its owner goes away is killed, so no tool outlives the step that
// started it and no zombie is left behind.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Splits the command line and starts its first word as the program (looked
    // up in PATH when it holds no "/"), with the caller's environment and
    // folder. Its standard input is `input`, followed by the end of input, or
    // /dev/null when there is none: a secret handed this way never shows in
    // the process list, as an argument would. False when nothing could be
    // started (empty line, program missing or not executable, input over
    // kMaxChildInput) or when this object already holds a process.
    bool Start(const std::string& commandLine,
               std::optional<std::string_view> input = std::nullopt);
    bool Start(const std::vector<std::string>& arguments,
               std::optional<std::string_view> input = std::nullopt);

    bool IsStarted() const { return started_; }
    // Never blocks; reaps the child once it has ended.
    bool IsRunning();
    // Blocks until the child has ended.
    void Wait();
    // Ends a running child at once (SIGKILL) and reaps it.
    void Kill();

    // The exit status of a child that ended normally; -1 while it runs, when
    // it was ended by a signal or when it was never started.
    int ExitCode() const { return exitCode_; }
    pid_t Pid() const { return pid_; }

private:
    void Reaped(int status);
    void Release();

    pid_t pid_ = -1; // -1 once reaped, so a recycled id is never signalled
    bool started_ = false;
    int exitCode_ = -1;
};

// The names the backup engine uses for the same thing.
ChildProcess RunProcess(const std::string& commandLine,
                        std::optional<std::string_view> input = std::nullopt);
bool IsProcessRunning(ChildProcess& process);
