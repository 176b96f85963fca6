#include "ftp/FtpServers.h"

#include <csignal>
#include <unistd.h>

namespace {

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

} // namespace

std::unique_ptr<FtpServerProcess>
FtpServerProcess::Start(ServerKind kind, const ServerOptions& options, std::string& why) {
    // Debian's python3-pyftpdlib is installed for the system interpreter,
    // which need not be the first python3 on the PATH.
    const std::string python =
        ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    const std::string command =
        python + " " + Quoted(std::string(TIDEVAULT_FTP_TEST_DIR) + "/ftp_server.py") +
        (kind == ServerKind::Pyftpdlib ? " pyftpdlib " : " pure-ftpd ") + Quoted(options.root) +
        " " + Quoted(options.user) + " " + Quoted(options.password) +
        (options.anonymous ? " --anonymous" : "") + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "re");
    char line[4096] = {};
    int port = 0;
    int group = 0;
    if (pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr &&
        std::sscanf(line, "READY %d %d", &port, &group) == 2)
        return std::unique_ptr<FtpServerProcess>(new FtpServerProcess(pipe, port, group));
    why = line[0] != '\0' ? line : "cannot run " + python;
    if (pipe != nullptr)
        ::pclose(pipe);
    return nullptr;
}

FtpServerProcess::~FtpServerProcess() {
    ::kill(-group_, SIGTERM);
    ::pclose(pipe_);
}
