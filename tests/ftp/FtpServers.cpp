#include "ftp/FtpServers.h"

#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
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

std::unique_ptr<ServerScript> StartServer(ServerKind kind, const std::string& root,
                                          bool anonymous) {
    return std::make_unique<ServerScript>(
        std::string("ftp_server.py ") +
        (kind == ServerKind::Pyftpdlib ? "pyftpdlib " : "pure-ftpd ") + Quoted(root) + " alice " +
        Quoted(kPassword) + (anonymous ? " --anonymous" : ""));
}

FakeFtpServer::FakeFtpServer(const std::string& script, ::Blobs blobs, int port)
    : blobs_(std::move(blobs)) {
    folder_.Write("script", script);
    for (const auto& [name, bytes] : blobs_)
        if (script.find(name) != std::string::npos)
            folder_.Write("blob-" + name, bytes);
    server_ = std::make_unique<ServerScript>("fake_ftp_server.py " + Quoted(folder_.Path()) + " " +
                                             std::to_string(port));
}

bool FakeFtpServer::Signalled() const {
    return ::access(folder_.File("signalled").c_str(), F_OK) == 0;
}

std::string FakeFtpServer::Uploaded() const {
    return ::access(folder_.File("uploaded").c_str(), F_OK) == 0 ? folder_.Read("uploaded") : "";
}

Strings FakeFtpServer::Problems() {
    Strings problems;
    char line[4096];
    while (server_->Output() != nullptr && std::fgets(line, sizeof line, server_->Output())) {
        problems.emplace_back(line, std::strlen(line) - 1);
        if (problems.back() == "END")
            return Strings(problems.begin(), problems.end() - 1);
    }
    problems.push_back("the fake server ended without its report");
    return problems;
}

int ClosedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(fd);
    return ntohs(a.sin_port);
}
