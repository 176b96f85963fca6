#include "ftp/FakeFtpServer.h"

#include <arpa/inet.h>
#include <chrono>
#include <poll.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

void CloseFd(int& fd, bool reset = false) {
    // Linger 0: the close sends a reset, as a crashed server would.
    const linger abort{1, 0};
    if (fd >= 0 && reset)
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

sockaddr_in Address(int port, const std::string& dotted = "127.0.0.1") {
    sockaddr_in a{AF_INET, htons(static_cast<std::uint16_t>(port)), {}, {}};
    ::inet_pton(AF_INET, dotted.c_str(), &a.sin_addr);
    return a;
}

// A socket bound to the address, listening when asked; its port in `port`.
int Bound(const sockaddr_in& a, bool listen, int* port = nullptr) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
        (listen && ::listen(fd, 4) != 0))
        CloseFd(fd);
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    if (port != nullptr)
        *port = ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0
                    ? ntohs(bound.sin_port)
                    : 0;
    return fd;
}

// Waits in short slices, so a stopping server is noticed. The limit is
// generous: it only keeps a broken client from hanging the suite.
bool WaitReadable(int fd, const std::atomic<bool>& stop) {
    for (const Clock::time_point start = Clock::now();
         fd >= 0 && !stop && Clock::now() - start < std::chrono::seconds(20);) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 20) > 0)
            return true;
    }
    return false;
}

int Accept(int& listener, const std::atomic<bool>& stop) {
    const int fd = WaitReadable(listener, stop) ? ::accept4(listener, nullptr, nullptr, 0) : -1;
    CloseFd(listener);
    return fd;
}

Strings Split(const std::string& text, char separator) {
    Strings parts;
    for (std::size_t pos = 0, end = 0; end != std::string::npos; pos = end + 1)
        parts.push_back(text.substr(pos, (end = text.find(separator, pos)) - pos));
    return parts;
}

} // namespace

FakeFtpServer::FakeFtpServer(const std::string& script, ::Blobs blobs, int port)
    : script_(script), blobs_(std::move(blobs)) {
    listener_ = Bound(Address(port), true, &port_);
    if (listener_ >= 0)
        thread_ = std::thread([this] { Run(); });
}

FakeFtpServer::~FakeFtpServer() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    for (int* fd : {&data_, &passive_, &control_, &listener_})
        CloseFd(*fd);
}

void FakeFtpServer::Run() {
    control_ = Accept(listener_, stop_);
    std::string line;
    for (const std::string& step : Split(script_, '|')) {
        const std::size_t eq = step.find('=');
        const std::string expect = step.substr(0, eq);
        if (!expect.empty() && (!ReadLine(line) || line != expect)) {
            Problem("expected " + expect +
                    (control_ < 0 ? ", the client hung up" : ", got " + line));
            break;
        }
        for (const std::string& action :
             Split(eq == std::string::npos ? "" : step.substr(eq + 1), ';'))
            Act(action);
    }
    for (int quits = 0; ReadLine(line);)
        if (line != "QUIT" || ++quits > 1)
            Problem("after the script: " + line);
    done_ = true;
}

void FakeFtpServer::Act(const std::string& action) {
    if (action.empty())
        return;
    const std::size_t blank = action.find(' ');
    const std::string verb = action.rfind('@', 0) == 0 ? action.substr(0, blank) : "";
    const std::string arg = blank == std::string::npos ? "" : action.substr(blank + 1);
    const std::string blob = blobs_.count(arg) != 0 ? blobs_[arg] : arg;
    if (verb.empty())
        Send(control_, action + "\r\n");
    else if (verb == "@raw")
        Send(control_, arg);
    else if (verb == "@pause")
        Sleep(std::stoi(arg));
    else if (verb == "@close")
        CloseFd(control_);
    else if (verb == "@signal")
        signalled_ = true;
    else if (verb == "@pasv") {
        int port = 0;
        CloseFd(passive_);
        passive_ = Bound(Address(0), true, &port);
        Send(control_, "227 Entering Passive Mode (" + (arg.empty() ? "127,0,0,1" : arg) + "," +
                           std::to_string(port / 256) + "," + std::to_string(port % 256) +
                           ").\r\n");
    } else if (verb == "@closepasv")
        CloseFd(passive_);
    else if (verb == "@accept" || verb == "@data")
        data_ = Accept(passive_, stop_);
    else if (verb == "@connect") {
        data_ = Bound(Address(0, arg), false);
        const sockaddr_in client = Address(55 * 256 + 55);
        if (::connect(data_, reinterpret_cast<const sockaddr*>(&client), sizeof client) != 0)
            CloseFd(data_);
    } else if (verb == "@recv") {
        const std::size_t limit = arg.empty() ? std::string::npos : std::stoul(arg);
        std::string received;
        char buffer[65536];
        for (ssize_t n = 1; n > 0 && received.size() < limit && WaitReadable(data_, stop_);) {
            n = ::recv(data_, buffer, std::min(sizeof buffer, limit - received.size()), 0);
            received.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        }
        std::lock_guard<std::mutex> lock(mutex_);
        uploaded_ += received;
    } else if (verb == "@trickle") {
        for (std::size_t i = 0; Send(control_, arg.substr(i++ % arg.size(), 1));)
            Sleep(20);
    } else if (verb != "@send" && verb != "@eof" && verb != "@reset")
        Problem("unknown action " + action);
    if (verb == "@send" || verb == "@data")
        Send(data_, blob);
    if (verb == "@eof" || verb == "@reset" || verb == "@data")
        CloseFd(data_, verb == "@reset");
}

bool FakeFtpServer::ReadLine(std::string& line) {
    for (std::size_t end; (end = pending_.find("\r\n")) == std::string::npos;) {
        char buffer[4096];
        const ssize_t n =
            WaitReadable(control_, stop_) ? ::recv(control_, buffer, sizeof buffer, 0) : 0;
        if (n <= 0) {
            CloseFd(control_);
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
    line = pending_.substr(0, pending_.find("\r\n"));
    pending_.erase(0, line.size() + 2);
    return true;
}

bool FakeFtpServer::Send(int fd, const std::string& bytes) {
    ssize_t n = 1;
    for (std::size_t done = 0; n > 0 && !stop_ && done < bytes.size(); done += n)
        n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    return n > 0 && !stop_;
}

void FakeFtpServer::Sleep(int milliseconds) {
    for (const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
         !stop_ && Clock::now() < end;)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void FakeFtpServer::Problem(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    problems_.push_back(text);
}

std::string FakeFtpServer::Uploaded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return uploaded_;
}

Strings FakeFtpServer::Problems() {
    for (const Clock::time_point start = Clock::now();
         !done_ && Clock::now() - start < std::chrono::seconds(10);)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::lock_guard<std::mutex> lock(mutex_);
    return done_ ? problems_ : Strings{"the client never hung up"};
}

int ClosedLoopbackPort() {
    int port = 0;
    int fd = Bound(Address(0), true, &port);
    CloseFd(fd);
    return port;
}
