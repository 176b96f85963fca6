#include "engine/Encryption.h"

#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "core/host.h"
#include "core/Progress.h"
#include "i18n/Catalogue.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"

#include <chrono>
#include <thread>
#include <vector>

namespace {

struct StepTexts {
    const char* flags;      // the tool's mode words, as they end the command line
    const char* flag;       // the mode word alone
    const char* caption;    // progress caption while the tool runs
    const char* failureKey; // the log line when the step fails, "%d" = the file
};

constexpr StepTexts kEncrypt{" /e /q", "/e", "Encrypting ...", "strMsgEncryptionFailed"};
constexpr StepTexts kDecrypt{" /d /q", "/d", "Decrypt ...", "strMsgDecryptionFailed"};

// The tool reads the password from its standard input: on the command line
// any local user could read it, and blanks, quotes or a leading "/" would be
// reshaped on the way.
constexpr const char* kPasswordFromInput = " /P:-";

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
                             const StepTexts& texts) {
    return ToolWord(tool) + " /i:\"" + file + ".ue" + "\" /o:\"" + file + "\"" +
           kPasswordFromInput + texts.flags;
}

// The command line is plain text: a name holding a double quote or ending in
// a backslash would reach the tool as something else, and the tool could then
// write to a name nobody meant. So nothing runs unless the tool will see
// exactly our names and mode.
bool ReachesToolIntact(const std::string& commandLine, const std::string& tool,
                       const std::string& file, const StepTexts& texts) {
    const std::vector<std::string> expected = {tool,   "/i:" + file + ".ue", "/o:" + file,
                                               "/P:-", texts.flag,           "/q"};
    return SplitCommandLine(commandLine) == expected;
}

void LogFailure(const StepTexts& texts, const std::string& file, const std::string& reason) {
    WriteLog(GetMsg(texts.failureKey, "%d", file) + " (" + reason + ")");
}

// Puts the data as it was before the step back under its own name. Replacing
// whatever the tool may have left there is intended: only the ".ue" file is
// known to be good.
bool PutBack(const StepTexts& texts, const std::string& file, const std::string& reason) {
    const std::string work = file + ".ue";
    if (RenameFile(work, file)) {
        LogFailure(texts, file, reason);
    } else {
        LogFailure(texts, file, reason + "; " + GetMsg("strMsgCryptKeptIn", "%d", work));
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
        return GetMsg("strMsgCryptToolSignal");
    return GetMsg("strMsgCryptToolExitCode", "%n", std::to_string(tool.ExitCode()));
}

bool RunTool(const std::string& file, const std::string& password, const StepTexts& texts) {
    if (gAbort || gQuitting) {
        LogFailure(texts, file, GetMsg("strMsgCryptCancelled"));
        return false;
    }
    if (!FileExists(file)) {
        LogFailure(texts, file, GetMsg("strMsgCryptNoFile"));
        return false;
    }
    const std::string tool = ToolPath();
    const std::string commandLine = BuildCommandLine(tool, file, texts);
    if (!ReachesToolIntact(commandLine, tool, file, texts)) {
        LogFailure(texts, file, GetMsg("strMsgCryptBadName"));
        return false;
    }
    if (password.size() > kMaxChildInput) {
        LogFailure(texts, file,
                   GetMsg("strMsgCryptPasswordTooLong", "%n", std::to_string(kMaxChildInput)));
        return false;
    }
    const std::string work = file + ".ue";
    if (!RenameFile(file, work)) {
        LogFailure(texts, file, GetMsg("strMsgCryptCantRename", "%d", work));
        return false;
    }

    // The password goes exactly as stored: the tool takes every byte of its input.
    ChildProcess process = RunProcess(commandLine, password);
    if (!process.IsStarted())
        return PutBack(texts, file, GetMsg("strMsgCryptToolMissing", "%d", tool));
    if (WaitForTool(process, texts, file))
        return PutBack(texts, file, GetMsg("strMsgCryptCancelled"));
    if (process.ExitCode() != 0)
        return PutBack(texts, file, ExitText(process));
    if (!FileExists(file))
        return PutBack(texts, file, GetMsg("strMsgCryptNoOutput"));

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
