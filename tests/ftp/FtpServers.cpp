#include "ftp/FtpServers.h"

#include <csignal>
#include <unistd.h>

ServerScript::ServerScript(const std::string& arguments) {
    // Debian's python3-pyftpdlib is installed for the system interpreter,
    // which need not be the first python3 on the PATH.
    const std::string python =
        ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    pipe_ = ::popen(
        ("exec " + python + " " + Quoted(TIDEVAULT_FTP_TEST_DIR) + "/" + arguments).c_str(), "re");
    char line[4096] = {};
    if (pipe_ != nullptr && std::fgets(line, sizeof line, pipe_) != nullptr &&
        std::sscanf(line, "READY %d %d", &port_, &group_) != 2)
        why_ = line;
    if (why_.empty() && port_ == 0)
        why_ = "cannot run " + python;
}

ServerScript::~ServerScript() {
    if (group_ > 0)
        ::kill(-group_, SIGTERM);
    if (pipe_ != nullptr)
        ::pclose(pipe_);
}

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

std::unique_ptr<ServerScript> StartServer(ServerKind kind, const ServerOptions& options) {
    return std::make_unique<ServerScript>(
        std::string(kind == ServerKind::Pyftpdlib ? "ftp_server.py pyftpdlib "
                                                  : "ftp_server.py pure-ftpd ") +
        Quoted(options.root) + " " + Quoted(options.user) + " " + Quoted(options.password) +
        (options.anonymous ? " --anonymous" : ""));
}
