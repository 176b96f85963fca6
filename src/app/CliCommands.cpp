#include "app/CliCommands.h"

#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "core/HeadlessHost.h"
#include "engine/BackupRun.h"
#include "i18n/Catalogue.h"
#include "jobs/JobListFile.h"
#include "jobs/Scheduler.h"
#include "jobs/Startup.h"
#include "platform/Clock.h"
#include "platform/InstanceLock.h"
#include "platform/ProgramFolder.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

namespace {

constexpr const char* kUsage =
    "usage: tidevault-cli [--home DIR] COMMAND [ARGS]\n"
    "commands:\n"
    "  list [--at \"YYYY-MM-DD HH:MM\"]   the jobs with their next start\n"
    "  run NAME                         run one job now\n"
    "  daemon                           run the schedule until stopped\n";

int Usage(const std::string& problem) {
    if (!problem.empty())
        std::fprintf(stderr, "tidevault-cli: %s\n", problem.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

int StartupFailed(const std::string& detail) {
    std::fprintf(stderr, "%s\n", GetMsg("strMsgSystemVarsError").c_str());
    if (!detail.empty())
        std::fprintf(stderr, "%s\n", detail.c_str());
    return 1;
}

// "YYYY-MM-DD HH:MM"
std::optional<DateTime> ParseMoment(const std::string& text) {
    int y, mo, d, h, mi;
    char tail;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d%c", &y, &mo, &d, &h, &mi, &tail) != 5)
        return std::nullopt;
    return DateTime::FromParts(y, mo, d, h, mi, 0);
}

int CommandList(const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--at" && i + 1 < args.size()) {
            const std::optional<DateTime> at = ParseMoment(args[++i]);
            if (!at)
                return Usage("--at wants \"YYYY-MM-DD HH:MM\", not \"" + args[i] + "\"");
            SetClockOverride(*at);
        } else {
            return Usage("list: unexpected argument \"" + args[i] + "\"");
        }
    }
    // list only reads the job list: no lock, no staging folder.
    std::string error;
    if (!LoadJobListOnly(error))
        return StartupFailed(error);
    for (const JobRow& row : UpdateForm()) {
        std::printf("%s\t%s\t%s\t%s\t%s\t%d\n", row.name.c_str(), row.type.c_str(),
                    row.start.c_str(), row.completed.c_str(), row.destination.c_str(), row.status);
    }
    return 0;
}

// run and daemon use the staging folder: one process per program folder.
bool TakeProgramFolder(InstanceLock& lock) {
    if (lock.Acquire(ProgramFolder()))
        return true;
    std::fprintf(stderr,
                 "tidevault-cli: another Tidevault process is using the program folder %s; "
                 "try again when it has finished.\n",
                 ProgramFolder().c_str());
    return false;
}

// The window-free start-up in full: staging folder emptied, job list loaded.
bool StartUp(InstanceLock& lock) {
    if (!TakeProgramFolder(lock))
        return false;
    std::string error;
    if (!InitSystemVariables(error)) {
        StartupFailed(error);
        return false;
    }
    return true;
}

int CommandRun(const std::vector<std::string>& args, HeadlessHost& host) {
    if (args.size() != 1)
        return Usage("run wants exactly one job name");
    InstanceLock lock;
    if (!StartUp(lock))
        return 1;
    host.InstallSignalHandlers();
    RunBackup(args[0]);
    const std::shared_ptr<clsBackup> job = FindBackup(args[0]);
    if (!job)
        return 1;
    switch (job->enumStatus) {
    case kStatusFinished:
        return 0;
    case kStatusAborted:
        return 3;
    default:
        return 1;
    }
}

int CommandDaemon(const std::vector<std::string>& args, HeadlessHost& host) {
    if (!args.empty())
        return Usage("daemon takes no arguments");
    InstanceLock lock;
    if (!StartUp(lock))
        return 1;
    host.InstallSignalHandlers();
    WriteLog(GetMsg("strMsgProgramStarted"));
    WriteLog(GetMsg("strMsgBackupItemsLoaded", "%d", std::to_string(gBackups.size())));
    UpdateForm();
    while (!HeadlessHost::StopRequested()) {
        SchedulerTick(RunBackup);
        // Wake at the start of the next second, as a one-second timer would.
        const auto now = std::chrono::system_clock::now();
        const auto next =
            std::chrono::ceil<std::chrono::seconds>(now + std::chrono::milliseconds(1));
        for (auto t = now; t < next && !HeadlessHost::StopRequested();
             t = std::chrono::system_clock::now())
            std::this_thread::sleep_for(
                std::min<std::chrono::nanoseconds>(next - t, std::chrono::milliseconds(100)));
    }
    WriteLog(GetMsg("strMsgClosingProgram"));
    SaveBackups();
    WriteLog(GetMsg("strMsgProgramClosed"));
    return 0;
}

} // namespace

int RunCli(const std::vector<std::string>& argv) {
    std::vector<std::string> args;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        if (argv[i] == "--home") {
            if (i + 1 >= argv.size())
                return Usage("--home needs a folder");
            SetProgramFolder(argv[++i]);
        } else if (argv[i].rfind("--home=", 0) == 0) {
            SetProgramFolder(argv[i].substr(7));
        } else {
            args.push_back(argv[i]);
        }
    }
    if (args.empty())
        return Usage("");
    HeadlessHost host;
    SetHost(&host);
    LoadLanguageAndSettings();

    const std::string command = args.front();
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    int status;
    if (command == "list")
        status = CommandList(rest);
    else if (command == "run")
        status = CommandRun(rest, host);
    else if (command == "daemon")
        status = CommandDaemon(rest, host);
    else if (command == "help" || command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        status = 0;
    } else
        status = Usage("unknown command \"" + command + "\"");
    SetHost(nullptr);
    return status;
}
