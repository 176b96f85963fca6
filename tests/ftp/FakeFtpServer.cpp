#include "ftp/FakeFtpServer.h"

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
