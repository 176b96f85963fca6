#include "cli/CliProcess.h"

#include <algorithm>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

static std::string ReadAll(std::FILE* file) {
    std::string data(static_cast<std::size_t>(::lseek(::fileno(file), 0, SEEK_END)), '\0');
    return ::pread(::fileno(file), data.data(), data.size(), 0) < 0 ? std::string() : data;
}

static std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers(texts.size() + 1); // the last one null
    std::ranges::transform(texts, pointers.begin(), [](std::string& t) { return t.data(); });
    return pointers;
}

CliProcess::CliProcess(std::vector<std::string> args, std::vector<std::string> env) {
    args.insert(args.begin(), TIDEVAULT_CLI);
    for (char** e = environ; *e != nullptr; ++e)
        if (std::string(*e).rfind("TIDEVAULT_HOME=", 0) != 0)
            env.push_back(*e);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ::fileno(out_), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ::fileno(err_), STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", 0, 0);
    if (posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, Pointers(args).data(),
                    Pointers(env).data()) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

CliProcess::~CliProcess() {
    Signal(SIGKILL), Wait();
    std::fclose(out_), std::fclose(err_);
}

void CliProcess::Signal(int signal) const {
    if (pid_ > 0)
        ::kill(pid_, signal);
}

CliResult CliProcess::Wait() {
    int wstatus = 0;
    CliResult result;
    if (pid_ > 0 && ::waitpid(pid_, &wstatus, 0) == pid_)
        result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    pid_ = -1;
    return result.out = ReadAll(out_), result.err = ReadAll(err_), result;
}
