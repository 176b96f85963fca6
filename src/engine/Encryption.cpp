#include "engine/Encryption.h"

#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "core/host.h"
#include "core/Progress.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"

#include <chrono>
#include <thread>
#include <vector>

namespace {

struct StepTexts {
    const char* flags;   // the tool's mode words, as they end the command line
    const char* flag;    // the mode word alone
    const char* caption; // progress caption while the tool runs
    const char* failure; // start of the log line when the step fails
};

constexpr StepTexts kEncrypt{" /e /q", "/e", "Encrypting ...", "FAIL: Encryption of "};
constexpr StepTexts kDecrypt{" /d /q", "/d", "Decrypt ...", "FAIL: Decryption of "};

std::string ToolPath() {
    return BinFolder() + "/bfish";
}

// The tool's path once went through its short form, which never holds a
// blank. Used as it is, a program folder with a blank would split the first
// word, so such a path is quoted instead.
std::string ToolWord(const std::string& tool) {
    if (tool.find_first_of(" \t") == std::string::npos)
        return tool;
    return "\"" + tool + "\"";
}

std::string BuildCommandLine(const std::string& tool, const std::string& file,
                             const std::string& password, const StepTexts& texts) {
    return ToolWord(tool) + " /i:\"" + file + ".ue" + "\" /o:\"" + file + "\" /P:" + password +
           texts.flags;
}

// The command line is plain text: a name holding a double quote or ending in
// a backslash, or a password word that looks like an option, would reach the
// tool as something else, and the tool could then write to a name nobody
// meant. So nothing runs unless the tool will see exactly our names and mode.
bool ReachesToolIntact(const std::string& commandLine, const std::string& tool,
                       const std::string& file, const StepTexts& texts) {
    const std::vector<std::string> args = SplitCommandLine(commandLine);
    const std::size_t n = args.size();
    if (n < 6 || args[0] != tool || args[1] != "/i:" + file + ".ue" || args[2] != "/o:" + file ||
        args[3].rfind("/P:", 0) != 0 || args[n - 2] != texts.flag || args[n - 1] != "/q")
        return false;
    for (std::size_t i = 4; i + 2 < n; ++i) {
        if (args[i].empty() || args[i][0] == '/')
            return false;
    }
    return true;
}

void LogFailure(const StepTexts& texts, const std::string& file, const std::string& reason) {
    WriteLog(texts.failure + file + " failed! (" + reason + ")");
}

// Puts the data as it was before the step back under its own name. Replacing
// whatever the tool may have left there is intended: only the ".ue" file is
// known to be good.
bool PutBack(const StepTexts& texts, const std::string& file, const std::string& reason) {
    const std::string work = file + ".ue";
    if (RenameFile(work, file)) {
        LogFailure(texts, file, reason);
    } else {
        LogFailure(texts, file, reason + "; the original data is kept in " + work);
    }
    return false;
}

// Waits for the tool, keeping the window alive. True when the user cancelled
// or the program is quitting; the tool is then stopped.
bool WaitForTool(ChildProcess& tool, const StepTexts& texts, const std::string& file) {
    for (;;) {
        CurrentHost().Yield();
        UpdateProgress(texts.caption, file, 0, 0);
        if (gAbort || gQuitting) {
            tool.Kill();
            return true;
        }
        if (!tool.IsRunning())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string ExitText(const ChildProcess& tool) {
    if (tool.ExitCode() < 0)
        return "the encryption tool was ended by a signal";
    return "the encryption tool ended with code " + std::to_string(tool.ExitCode());
}

bool RunTool(const std::string& file, const std::string& password, const StepTexts& texts) {
    if (gAbort || gQuitting) {
        LogFailure(texts, file, "cancelled");
        return false;
    }
    if (!FileExists(file)) {
        LogFailure(texts, file, "the file does not exist");
        return false;
    }
    const std::string tool = ToolPath();
    const std::string commandLine = BuildCommandLine(tool, file, password, texts);
    if (!ReachesToolIntact(commandLine, tool, file, texts)) {
        LogFailure(texts, file, "its name or the password cannot be passed to the encryption tool");
        return false;
    }
    const std::string work = file + ".ue";
    if (!RenameFile(file, work)) {
        LogFailure(texts, file, "it cannot be renamed to " + work);
        return false;
    }

    ChildProcess process = RunProcess(commandLine);
    if (!process.IsStarted())
        return PutBack(texts, file, "the encryption tool " + tool + " cannot be started");
    if (WaitForTool(process, texts, file))
        return PutBack(texts, file, "cancelled");
    if (process.ExitCode() != 0)
        return PutBack(texts, file, ExitText(process));
    if (!FileExists(file))
        return PutBack(texts, file, "the encryption tool reported success but wrote no file");

    RemoveFile(work);
    return true;
}

} // namespace

bool EncryptFile(const std::string& file, const std::string& password) {
    return RunTool(file, password, kEncrypt);
}

bool DecryptFile(const std::string& file, const std::string& password) {
    return RunTool(file, password, kDecrypt);
}
