#include "ftp/FakeFtpServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Generous: the fake must never be the reason a test ends, only a bound that
// keeps a broken client from hanging the suite.
constexpr auto kWaitLimit = std::chrono::seconds(20);

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

sockaddr_in Loopback(int port, const std::string& address = "127.0.0.1") {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    return a;
}

int LoopbackListener(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in a = Loopback(port);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 &&
        ::listen(fd, 4) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

int PortOf(int fd) {
    sockaddr_in a{};
    socklen_t length = sizeof a;
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0 ? ntohs(a.sin_port) : 0;
}

// Waits in short slices, so a stopping server is noticed.
bool WaitReadable(int fd, const std::atomic<bool>& stop) {
    const Clock::time_point start = Clock::now();
    while (fd >= 0 && !stop && Clock::now() - start < kWaitLimit) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 20) > 0)
            return true;
    }
    return false;
}

bool SendAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (fd >= 0 && done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0 && errno != EINTR)
            return false;
        done += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    return fd >= 0;
}

} // namespace

FakeStep::FakeStep(std::string e, std::vector<FakeAction> a)
    : expect(std::move(e)), actions(std::move(a)) {}

FakeStep::FakeStep(std::string e, const char* reply) : expect(std::move(e)) {
    if (*reply != '\0')
        actions.push_back(Reply(std::string(reply) + "\r\n"));
}

std::vector<FakeStep> operator+(std::vector<FakeStep> a, const std::vector<FakeStep>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

FakeAction Reply(const std::string& bytes) {
    return [bytes](FakeFtpServer& s) { s.Send(bytes); };
}
FakeAction Pause(int milliseconds) {
    return [milliseconds](FakeFtpServer& s) { s.Sleep(milliseconds); };
}
FakeAction CloseControl() {
    return [](FakeFtpServer& s) { s.CloseControl(); };
}
FakeAction PassiveReply(const std::string& hostBytes) {
    return [hostBytes](FakeFtpServer& s) {
        const int port = s.OpenPassive();
        s.Send("227 Entering Passive Mode (" + hostBytes + "," + std::to_string(port / 256) + "," +
               std::to_string(port % 256) + ").\r\n");
    };
}
FakeAction ClosePassivePort() {
    return [](FakeFtpServer& s) { s.ClosePassive(); };
}
FakeAction SendOnData(const std::vector<std::string>& parts, int pauseMs) {
    return [parts, pauseMs](FakeFtpServer& s) {
        for (std::size_t i = 0; i < parts.size() && (i > 0 || s.AcceptData()); ++i) {
            s.Sleep(i > 0 ? pauseMs : 0);
            s.SendData(parts[i]);
        }
        s.CloseData(false);
    };
}
FakeAction DropDataAfter(const std::string& bytes) {
    return [bytes](FakeFtpServer& s) {
        // The client must have seen its connect succeed before the reset, or
        // it would take the reset for a failed connect.
        if (s.AcceptData()) {
            s.Sleep(300);
            s.SendData(bytes);
        }
        s.CloseData(true);
    };
}
FakeAction ReceiveOnData(std::size_t limit) {
    return [limit](FakeFtpServer& s) {
        if (s.AcceptData())
            s.ReceiveData(limit);
        s.CloseData(limit != std::string::npos);
    };
}
FakeAction HoldData() {
    return [](FakeFtpServer& s) {
        s.AcceptData();
        s.SetSignalled();
        s.Sleep(20000);
    };
}
FakeAction TrickleForever(const std::string& bytes) {
    return [bytes](FakeFtpServer& s) {
        for (std::size_t i = 0; s.Send(std::string(1, bytes[i++ % bytes.size()]));)
            s.Sleep(20);
    };
}
FakeAction ConnectToClient(int port, const std::string& bytes, const std::string& from) {
    return [port, bytes, from](FakeFtpServer& s) {
        if (s.ConnectData(port, from))
            s.SendData(bytes);
        s.CloseData(false);
    };
}
FakeAction Signal() {
    return [](FakeFtpServer& s) { s.SetSignalled(); };
}

FakeFtpServer::FakeFtpServer(std::vector<FakeStep> script, int port) : script_(std::move(script)) {
    listener_ = LoopbackListener(port);
    port_ = listener_ >= 0 ? PortOf(listener_) : 0;
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
    if (WaitReadable(listener_, stop_))
        control_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    std::string line;
    for (const FakeStep& step : script_) {
        if (control_ < 0)
            break;
        if (!step.expect.empty() && !ReadLine(line)) {
            Problem("waited for " + step.expect + " in vain");
            break;
        }
        if (line.compare(0, step.expect.size(), step.expect) != 0) {
            Problem("expected " + step.expect + ", got " + line);
            break;
        }
        for (const FakeAction& action : step.actions)
            action(*this);
        line.clear();
    }
    // Whatever comes after the script (QUIT, a stray command) is recorded
    // too, until the client hangs up.
    while (ReadLine(line)) {
    }
    done_ = true;
}

bool FakeFtpServer::ReadLine(std::string& line) {
    for (;;) {
        const std::size_t end = pending_.find("\r\n");
        if (end != std::string::npos) {
            line = pending_.substr(0, end);
            pending_.erase(0, end + 2);
            std::lock_guard<std::mutex> lock(mutex_);
            commands_.push_back(line);
            return true;
        }
        char buffer[4096];
        const ssize_t n =
            WaitReadable(control_, stop_) ? ::recv(control_, buffer, sizeof buffer, 0) : 0;
        if (n <= 0) {
            CloseFd(control_);
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

void FakeFtpServer::Problem(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    problems_.push_back(text);
}

std::vector<std::string> FakeFtpServer::Commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

std::vector<std::string> FakeFtpServer::FinalCommands() {
    const Clock::time_point start = Clock::now();
    while (!done_ && Clock::now() - start < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return Commands();
}

std::string FakeFtpServer::Uploaded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return uploaded_;
}

std::vector<std::string> FakeFtpServer::Problems() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return problems_;
}

bool FakeFtpServer::Send(const std::string& bytes) {
    return !stop_ && SendAll(control_, bytes);
}

void FakeFtpServer::CloseControl() {
    CloseFd(control_);
}

void FakeFtpServer::Sleep(int milliseconds) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (!stop_ && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

int FakeFtpServer::OpenPassive() {
    CloseFd(passive_);
    passive_ = LoopbackListener(0);
    return passive_ >= 0 ? PortOf(passive_) : 0;
}

void FakeFtpServer::ClosePassive() {
    CloseFd(passive_);
}

bool FakeFtpServer::AcceptData() {
    CloseFd(data_);
    if (WaitReadable(passive_, stop_))
        data_ = ::accept4(passive_, nullptr, nullptr, SOCK_CLOEXEC);
    CloseFd(passive_);
    return data_ >= 0;
}

bool FakeFtpServer::SendData(const std::string& bytes) {
    return SendAll(data_, bytes);
}

void FakeFtpServer::ReceiveData(std::size_t limit) {
    std::string received;
    char buffer[65536];
    while (received.size() < limit && WaitReadable(data_, stop_)) {
        const ssize_t n =
            ::recv(data_, buffer, std::min(sizeof buffer, limit - received.size()), 0);
        if (n <= 0)
            break;
        received.append(buffer, static_cast<std::size_t>(n));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    uploaded_ += received;
}

void FakeFtpServer::CloseData(bool reset) {
    if (data_ >= 0 && reset) {
        // Linger 0: the close sends a reset, as a crashed server would.
        const linger abort{1, 0};
        ::setsockopt(data_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    CloseFd(data_);
}

bool FakeFtpServer::ConnectData(int port, const std::string& from) {
    CloseFd(data_);
    const sockaddr_in source = Loopback(0, from);
    const sockaddr_in target = Loopback(port);
    const Clock::time_point start = Clock::now();
    while (!stop_ && Clock::now() - start < std::chrono::seconds(5)) {
        data_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::bind(data_, reinterpret_cast<const sockaddr*>(&source), sizeof source) == 0 &&
            ::connect(data_, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0)
            return true;
        CloseFd(data_);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

int ClosedLoopbackPort() {
    int fd = LoopbackListener(0);
    const int port = fd >= 0 ? PortOf(fd) : 0;
    CloseFd(fd);
    return port;
}
