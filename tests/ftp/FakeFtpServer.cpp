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
constexpr int kWaitLimitMs = 20000;

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

int LoopbackListener(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int PortOf(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

// Waits for `fd` to become readable, in short slices so a stopping server
// is noticed; false when the limit ran out or the server stops.
bool WaitReadable(int fd, const std::atomic<bool>& stop) {
    const Clock::time_point start = Clock::now();
    while (!stop) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 20) > 0)
            return true;
        if (Clock::now() - start > std::chrono::milliseconds(kWaitLimitMs))
            return false;
    }
    return false;
}

int AcceptWithin(int listener, const std::atomic<bool>& stop) {
    if (listener < 0 || !WaitReadable(listener, stop))
        return -1;
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

bool SendAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

FakeAction Reply(const std::string& bytes) {
    return [bytes](FakeFtpSession& s) { s.Send(bytes); };
}

FakeAction Pause(int milliseconds) {
    return [milliseconds](FakeFtpSession&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    };
}

FakeAction CloseControl() {
    return [](FakeFtpSession& s) { s.CloseControl(); };
}

FakeAction PassiveReply(const std::string& hostBytes) {
    return [hostBytes](FakeFtpSession& s) {
        const int port = s.OpenPassiveListener();
        s.Send("227 Entering Passive Mode (" + hostBytes + "," + std::to_string(port / 256) + "," +
               std::to_string(port % 256) + ").\r\n");
    };
}

FakeAction SendOnData(const std::string& bytes) {
    return [bytes](FakeFtpSession& s) {
        if (s.AcceptData())
            s.SendData(bytes);
        s.CloseData(false);
    };
}

FakeAction SendOnDataInParts(const std::vector<std::string>& parts, int pauseMs) {
    return [parts, pauseMs](FakeFtpSession& s) {
        if (s.AcceptData()) {
            for (std::size_t i = 0; i < parts.size(); ++i) {
                if (i > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
                s.SendData(parts[i]);
            }
        }
        s.CloseData(false);
    };
}

FakeAction DropDataAfter(const std::string& bytes) {
    return [bytes](FakeFtpSession& s) {
        // The client must have seen its connect succeed before the reset, or
        // it would take the reset for a failed connect.
        if (s.AcceptData()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            s.SendData(bytes);
        }
        s.CloseData(true);
    };
}

FakeAction ReceiveOnData() {
    return [](FakeFtpSession& s) {
        if (s.AcceptData())
            s.AddUploaded(s.ReceiveData(std::string::npos));
        s.CloseData(false);
    };
}

FakeAction DropDataAfterReceiving(std::size_t bytes) {
    return [bytes](FakeFtpSession& s) {
        if (s.AcceptData())
            s.AddUploaded(s.ReceiveData(bytes));
        s.CloseData(true);
    };
}

FakeAction TrickleForever(const std::string& bytes) {
    return [bytes](FakeFtpSession& s) {
        std::size_t i = 0;
        while (!s.Stopping() && s.Send(std::string(1, bytes[i++ % bytes.size()])))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    };
}

FakeAction ConnectToClient(int port, const std::string& bytes) {
    return [port, bytes](FakeFtpSession& s) {
        if (s.ConnectData(port))
            s.SendData(bytes);
        s.CloseData(false);
    };
}

FakeFtpServer::FakeFtpServer(std::vector<FakeStep> script, int port) : script_(std::move(script)) {
    listener_ = LoopbackListener(port);
    if (listener_ < 0)
        return;
    port_ = PortOf(listener_);
    thread_ = std::thread([this] { Run(); });
}

FakeFtpServer::~FakeFtpServer() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    CloseFd(listener_);
}

void FakeFtpServer::Run() {
    int control = AcceptWithin(listener_, stop_);
    if (control < 0) {
        Problem("no client connected");
        done_ = true;
        return;
    }
    FakeFtpSession session(*this, control);
    std::string line;
    for (const FakeStep& step : script_) {
        if (!session.ControlOpen())
            break;
        if (!step.expect.empty()) {
            if (!session.ReadLine(line)) {
                Problem("waited for " + step.expect + " in vain");
                break;
            }
            if (line.compare(0, step.expect.size(), step.expect) != 0) {
                Problem("expected " + step.expect + ", got " + line);
                break;
            }
        }
        for (const FakeAction& action : step.actions)
            action(session);
    }
    // Whatever comes after the script (QUIT, a stray command) is recorded
    // too, until the client hangs up.
    while (session.ControlOpen() && session.ReadLine(line)) {
    }
    done_ = true;
}

void FakeFtpServer::Record(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.push_back(line);
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

FakeFtpSession::~FakeFtpSession() {
    CloseFd(data_);
    CloseFd(passive_);
    CloseFd(control_);
}

bool FakeFtpSession::Send(const std::string& bytes) {
    return control_ >= 0 && SendAll(control_, bytes);
}

void FakeFtpSession::CloseControl() {
    CloseFd(control_);
}

bool FakeFtpSession::ReadLine(std::string& line) {
    for (;;) {
        const std::size_t end = pending_.find("\r\n");
        if (end != std::string::npos) {
            line = pending_.substr(0, end);
            pending_.erase(0, end + 2);
            server_.Record(line);
            return true;
        }
        if (control_ < 0 || !WaitReadable(control_, server_.stop_))
            return false;
        char buffer[4096];
        const ssize_t n = ::recv(control_, buffer, sizeof buffer, 0);
        if (n <= 0) {
            CloseFd(control_);
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

int FakeFtpSession::OpenPassiveListener() {
    CloseFd(passive_);
    passive_ = LoopbackListener(0);
    return passive_ >= 0 ? PortOf(passive_) : 0;
}

bool FakeFtpSession::AcceptData() {
    CloseFd(data_);
    data_ = AcceptWithin(passive_, server_.stop_);
    CloseFd(passive_);
    return data_ >= 0;
}

bool FakeFtpSession::SendData(const std::string& bytes) {
    return data_ >= 0 && SendAll(data_, bytes);
}

std::string FakeFtpSession::ReceiveData(std::size_t limit) {
    std::string received;
    char buffer[65536];
    while (data_ >= 0 && received.size() < limit && WaitReadable(data_, server_.stop_)) {
        const std::size_t want = std::min(sizeof buffer, limit - received.size());
        const ssize_t n = ::recv(data_, buffer, want, 0);
        if (n <= 0)
            break;
        received.append(buffer, static_cast<std::size_t>(n));
    }
    return received;
}

void FakeFtpSession::CloseData(bool reset) {
    if (data_ >= 0 && reset) {
        // Linger 0: the close sends a reset, as a crashed server would.
        const linger abort{1, 0};
        ::setsockopt(data_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    CloseFd(data_);
}

bool FakeFtpSession::ConnectData(int port) {
    CloseFd(data_);
    const Clock::time_point start = Clock::now();
    while (!Stopping() && Clock::now() - start < std::chrono::seconds(5)) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            data_ = fd;
            return true;
        }
        if (fd >= 0)
            ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void FakeFtpSession::AddUploaded(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(server_.mutex_);
    server_.uploaded_ += bytes;
}

int ClosedLoopbackPort() {
    const int fd = LoopbackListener(0);
    const int port = fd >= 0 ? PortOf(fd) : 0;
    if (fd >= 0)
        ::close(fd);
    return port;
}
