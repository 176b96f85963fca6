#include "app/CliCommands.h"

#include "core/HeadlessHost.h"
#include "i18n/Catalogue.h"
#include "jobs/Scheduler.h"
#include "jobs/Startup.h"
#include "platform/Clock.h"
#include "platform/ProgramFolder.h"

#include <cstdio>
#include <optional>

namespace {

constexpr const char* kUsage =
    "usage: tidevault-cli [--home DIR] COMMAND [ARGS]\n"
    "commands:\n"
    "  list [--at \"YYYY-MM-DD HH:MM\"]   the jobs with their next start\n";

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
    else if (command == "help" || command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        status = 0;
    } else
        status = Usage("unknown command \"" + command + "\"");
    SetHost(nullptr);
    return status;
}
