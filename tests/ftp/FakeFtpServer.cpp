#include "ftp/FakeFtpServer.h"

#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

FakeFtpServer::FakeFtpServer(const std::string& script, ::Blobs blobs, int port)
    : blobs_(std::move(blobs)) {
    folder_.Write("script", script);
    for (const auto& [name, bytes] : blobs_)
        if (script.find(name) != std::string::npos)
            folder_.Write("blob-" + name, bytes);
    const std::string command = "exec python3 '" + std::string(TIDEVAULT_FTP_TEST_DIR) +
                                "/fake_ftp_server.py' '" + folder_.Path() + "' " +
                                std::to_string(port);
    pipe_ = ::popen(command.c_str(), "re");
    char line[64] = {};
    if (pipe_ == nullptr || std::fgets(line, sizeof line, pipe_) == nullptr ||
        std::sscanf(line, "READY %d %d", &port_, &pid_) != 2)
        port_ = 0;
}

FakeFtpServer::~FakeFtpServer() {
    if (pid_ > 0)
        ::kill(pid_, SIGTERM);
    if (pipe_ != nullptr)
        ::pclose(pipe_);
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
    while (pipe_ != nullptr && std::fgets(line, sizeof line, pipe_) != nullptr) {
        const std::string text(line, std::strlen(line) - 1);
        if (text == "END")
            return problems;
        problems.push_back(text);
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
