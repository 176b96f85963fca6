#include "app/CliCommands.h"

#include "app/HeadlessHost.h"
#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "engine/BackupRun.h"
#include "engine/RestoreRun.h"
#include "engine/Startup.h"
#include "engine/VerifyRun.h"
#include "i18n/Catalogue.h"
#include "jobs/JobListFile.h"
#include "jobs/Scheduler.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/InstanceLock.h"
#include "platform/ProgramFolder.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* kUsage =
    "usage: tidevault-cli [--home DIR] COMMAND [ARGS]\n"
    "commands:\n"
    "  list [--at \"YYYY-MM-DD HH:MM\"]   the jobs with their next start\n"
    "  run NAME                         run one job now\n"
    "  sessions NAME                    the sessions of a job's index and their files\n"
    "  restore NAME [--to DIR] [--session YYYYMMDDhhmmss] [PATH ...]\n"
    "                                   restore the newest stored version of each file\n"
    "                                   (at or before the session), to the original\n"
    "                                   folders or below DIR; PATHs narrow the choice\n"
    "  verify NAME [--session YYYYMMDDhhmmss]\n"
    "                                   read every stored file (of one session) back\n"
    "                                   from its volumes and check it; exit 1 if any\n"
    "                                   is damaged or missing\n"
    "  daemon                           run the schedule until stopped\n";

// Exit status of a command ended by Ctrl-C (or SIGTERM) before it was done.
constexpr int kExitInterrupted = 3;
constexpr int kExitUsage = 2;
constexpr int kExitFailed = 1;

int Usage(const std::string& problem) {
    if (!problem.empty())
        std::fprintf(stderr, "tidevault-cli: %s\n", problem.c_str());
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

int StartupFailed(const std::string& detail) {
    std::fprintf(stderr, "%s\n", GetMsg("strMsgSystemVarsError").c_str());
    if (!detail.empty())
        std::fprintf(stderr, "%s\n", detail.c_str());
    return kExitFailed;
}

int Failed(const std::string& text) {
    std::fprintf(stderr, "tidevault-cli: %s\n", text.c_str());
    return kExitFailed;
}

int Interrupted() {
    std::fprintf(stderr, "tidevault-cli: %s\n", GetMsg("strMsgStoppedByUser").c_str());
    return kExitInterrupted;
}

// A command stopped by the user leaves no staged copy behind: what a fetch
// or a download had begun there is removed. Only with the folder's lock held.
int InterruptedClearingStaging() {
    PrepareTempFolder();
    return Interrupted();
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
    if (!FolderExists(ProgramFolder()))
        return Failed(GetMsg("strMsgProgramFolderMissing", "%d", ProgramFolder()));
    // list only reads the job list: no lock, no staging folder.
    std::string error;
    if (!LoadJobListOnly(error))
        return StartupFailed(error);
    if (HeadlessHost::StopRequested())
        return Interrupted();
    for (const JobRow& row : UpdateForm()) {
        std::printf("%s\t%s\t%s\t%s\t%s\t%d\n", row.name.c_str(), row.type.c_str(),
                    row.start.c_str(), row.completed.c_str(), row.destination.c_str(), row.status);
    }
    return 0;
}

// run, sessions, restore and daemon use the staging folder: one process per
// program folder, then the window-free start-up in full.
bool StartUp(InstanceLock& lock) {
    std::string problem;
    if (!TakeProgramFolder(lock, problem)) {
        Failed(problem);
        return false;
    }
    if (!InitSystemVariables(problem)) {
        StartupFailed(problem);
        return false;
    }
    return true;
}

int CommandRun(const std::vector<std::string>& args) {
    if (args.size() != 1)
        return Usage("run wants exactly one job name");
    InstanceLock lock;
    if (!StartUp(lock))
        return kExitFailed;
    if (HeadlessHost::StopRequested())
        return InterruptedClearingStaging();
    RunBackup(args[0]);
    const std::shared_ptr<clsBackup> job = FindBackup(args[0]);
    if (!job)
        return kExitFailed;
    if (job->enumStatus == kStatusFinished)
        return 0;
    // A wait cut short by Ctrl-C may end the run as failed rather than aborted.
    if (job->enumStatus == kStatusAborted || HeadlessHost::StopRequested())
        return kExitInterrupted;
    return kExitFailed;
}

// Fetching and reading the index is the engine's; saying why it failed, ours.
bool LoadIndexForCommand(const std::string& name) {
    std::string why;
    if (LoadRestoreList(name, &why))
        return true;
    if (HeadlessHost::StopRequested())
        return false;
    std::fprintf(stderr, "tidevault-cli: %s\n",
                 GetMsg("strMsgJobIndexUnreadable", {{"%d", name}, {"%r", why}}).c_str());
    return false;
}

std::string VolumesText(const clsRestoreFileData& rec) {
    const std::vector<std::string> chain = VolumeChain(rec);
    std::string text;
    for (const std::string& volume : chain)
        text += (text.empty() ? "" : " ") + volume + ".darc";
    return text.empty() ? rec.arcStart + ".darc " + rec.arcEnd + ".darc" : text;
}

// Per session, in index order: its date, then one line per file with full
// name, size and volumes, fields separated by a tab.
void PrintSessions(const std::vector<clsRestoreFileData>& records) {
    std::vector<std::vector<const clsRestoreFileData*>> sessions;
    std::map<DateTime, std::size_t> bySession;
    for (const clsRestoreFileData& rec : records) {
        const auto [it, fresh] = bySession.try_emplace(rec.dSession, sessions.size());
        if (fresh)
            sessions.emplace_back();
        sessions[it->second].push_back(&rec);
    }
    for (const auto& files : sessions) {
        const DateTime& date = files.front()->dSession;
        std::printf("%s\t%s\t%zu file%s\n", date.Format("yyyyMMddHHmmss").c_str(),
                    date.Format("yyyy-MM-dd HH:mm:ss").c_str(), files.size(),
                    files.size() == 1 ? "" : "s");
        // The index reader has left out damaged lines and said so.
        for (const clsRestoreFileData* rec : files) {
            std::printf("\t%s\t%lld\t%s\n", rec->fname.c_str(), static_cast<long long>(rec->size),
                        VolumesText(*rec).c_str());
        }
    }
}

int CommandSessions(const std::vector<std::string>& args) {
    if (args.size() != 1)
        return Usage("sessions wants exactly one job name");
    InstanceLock lock;
    if (!StartUp(lock))
        return kExitFailed;
    if (HeadlessHost::StopRequested())
        return InterruptedClearingStaging();
    const bool loaded = LoadIndexForCommand(args[0]);
    if (HeadlessHost::StopRequested())
        return InterruptedClearingStaging();
    if (!loaded)
        return kExitFailed;
    PrintSessions(gRestoreList);
    std::fflush(stdout);
    // What could be read is shown, but a damaged index is no healthy one.
    return gRestoreListDamagedLines == 0 ? 0 : kExitFailed;
}

struct RestoreArgs {
    std::string name;
    std::optional<std::string> to;
    std::optional<DateTime> session;
    std::vector<std::string> paths;
};

// "YYYYMMDDhhmmss", a real moment.
std::optional<DateTime> ParseSessionArgument(const std::string& text) {
    const DateTime date = ParseSessionDate(text);
    if (date == DateTime::ZeroDate())
        return std::nullopt;
    return date;
}

// Empty text when the arguments make sense, otherwise what is wrong.
std::string ParseRestoreArgs(const std::vector<std::string>& args, RestoreArgs& out) {
    if (args.empty() || args[0].rfind("--", 0) == 0)
        return "restore wants a job name first";
    out.name = args[0];
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.rfind("--", 0) != 0) {
            out.paths.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--to" || arg == "--session") {
            if (i + 1 >= args.size())
                return arg + " needs a value";
            const std::string& value = args[++i];
            if (arg == "--to") {
                if (out.to)
                    return "--to given twice";
                if (value.empty())
                    return "--to needs a folder";
                out.to = value;
            } else {
                if (out.session)
                    return "--session given twice";
                out.session = ParseSessionArgument(value);
                if (!out.session)
                    return "--session wants YYYYMMDDhhmmss, not \"" + value + "\"";
            }
        } else {
            return "restore: unknown option \"" + arg +
                   "\" (put \"--\" before a PATH "
                   "that begins with \"--\")";
        }
    }
    return std::string();
}

// The folder picker's answer is a full path; a relative --to is taken from
// where the command was started.
std::string AbsoluteFolder(const std::string& folder) {
    if (!folder.empty() && folder[0] == '/')
        return folder;
    char* here = ::getcwd(nullptr, 0);
    if (here == nullptr)
        return folder;
    const std::string cwd = here;
    std::free(here);
    return cwd == "/" ? "/" + folder : cwd + "/" + folder;
}

int CommandRestore(const std::vector<std::string>& args, HeadlessHost& host) {
    RestoreArgs request;
    if (const std::string problem = ParseRestoreArgs(args, request); !problem.empty())
        return Usage(problem);
    InstanceLock lock;
    if (!StartUp(lock))
        return kExitFailed;
    if (HeadlessHost::StopRequested())
        return InterruptedClearingStaging();
    const bool loaded = LoadIndexForCommand(request.name);
    if (HeadlessHost::StopRequested())
        return InterruptedClearingStaging();
    if (!loaded)
        return kExitFailed;
    const RestoreSelection selection =
        SelectNewestVersions(gRestoreList, request.session, request.paths);
    for (const std::string& path : selection.unmatchedPaths)
        std::fprintf(stderr, "tidevault-cli: nothing stored%s matches %s\n",
                     request.session ? " at or before that session" : "", path.c_str());
    RestoreTarget target;
    if (request.to) {
        host.SetPickedFolder(AbsoluteFolder(*request.to));
        const std::optional<RestoreTarget> picked = PickRestoreFolder();
        if (!picked)
            return kExitFailed;
        target = *picked;
    }
    const RestoreResult result = RestoreFiles(*gRestoreJob, selection.records, target);
    if (HeadlessHost::StopRequested())
        return InterruptedClearingStaging();
    return result.AllRestored() && selection.unmatchedPaths.empty() ? 0 : kExitFailed;
}

int CommandVerify(const std::vector<std::string>& args) {
    if (args.empty() || args[0].rfind("--", 0) == 0)
        return Usage("verify wants a job name first");
    std::optional<DateTime> session;
    if (args.size() == 3 && args[1] == "--session") {
        session = ParseSessionArgument(args[2]);
        if (!session)
            return Usage("--session wants YYYYMMDDhhmmss, not \"" + args[2] + "\"");
    } else if (args.size() != 1) {
        return Usage("verify wants a job name and at most --session YYYYMMDDhhmmss");
    }
    InstanceLock lock;
    if (!StartUp(lock))
        return kExitFailed;
    if (HeadlessHost::StopRequested())
        return InterruptedClearingStaging();
    const VerifyResult result = VerifyBackup(args[0], session, [](const VerifyFinding& finding) {
        std::printf("%s\n", VerifyFindingText(finding).c_str());
    });
    if (HeadlessHost::StopRequested() || result.aborted)
        return InterruptedClearingStaging();
    if (!result.problem.empty())
        return Failed(result.problem);
    std::printf("%s\n", VerifySummaryText(args[0], result).c_str());
    std::fflush(stdout);
    return result.AllHold() ? 0 : kExitFailed;
}

// Waits until the start of the next second, as a one-second timer would, or
// until a stop signal.
void SleepToNextSecond() {
    const auto now = std::chrono::system_clock::now();
    const auto next = std::chrono::ceil<std::chrono::seconds>(now + std::chrono::milliseconds(1));
    constexpr auto kSignalCheck = std::chrono::milliseconds(100);
    for (auto t = now; t < next && !HeadlessHost::StopRequested();
         t = std::chrono::system_clock::now())
        std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(next - t, kSignalCheck));
}

// The job list is edited by hand while the daemon runs: a change is loaded
// within a tick, a damaged one logged and left alone.
void FollowJobListEdits() {
    std::string why;
    switch (ReloadBackupsIfChanged(why)) {
    case JobListReload::Loaded:
        WriteLog(GetMsg("strMsgJobListReloaded", "%d", std::to_string(gBackups.size())));
        UpdateForm();
        break;
    case JobListReload::Damaged:
        WriteLog(GetMsg("strMsgJobListNotReloaded", "%s", why));
        break;
    case JobListReload::Unchanged:
        break;
    }
}

int CommandDaemon(const std::vector<std::string>& args, const HeadlessHost& host) {
    if (!args.empty())
        return Usage("daemon takes no arguments");
    InstanceLock lock;
    std::string problem;
    if (!TakeProgramFolder(lock, problem))
        return Failed(problem);
    if (!StartUpWithoutWindow(problem))
        return StartupFailed(problem);
    UpdateForm();
    // A stop signal is the daemon's normal end.
    while (!HeadlessHost::StopRequested()) {
        if (host.SchedulerTimerEnabled())
            SchedulerTick(RunBackup);
        // After the tick, so that a reload never recomputes a start due in
        // this second before the tick has seen it.
        FollowJobListEdits();
        SleepToNextSecond();
    }
    QuitWithoutWindow();
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
    host.InstallSignalHandlers();
    // tidevault-cli never edits a job, while the job list may be edited by
    // hand meanwhile: it writes back only the results of its runs.
    SetJobListSaving(JobListSaving::ResultsOnly);
    LoadLanguageAndSettings();

    const std::string command = args.front();
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    int status;
    if (command == "list")
        status = CommandList(rest);
    else if (command == "run")
        status = CommandRun(rest);
    else if (command == "sessions")
        status = CommandSessions(rest);
    else if (command == "restore")
        status = CommandRestore(rest, host);
    else if (command == "verify")
        status = CommandVerify(rest);
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
