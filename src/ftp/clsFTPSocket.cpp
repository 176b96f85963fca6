#include "ftp/clsFTPSocket.h"

#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "core/host.h"
#include "ftp/clsFTPAnswer.h"
#include "i18n/Catalogue.h"
#include "platform/IniFile.h"
#include "platform/TextConvert.h"
#include "platform/TextUtil.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// Big enough that a fast download costs few system calls per megabyte.
constexpr std::size_t kReceiveBufferSize = 256 * 1024;

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void CloseDescriptor(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void LogReceiveFailure(int error) {
    WriteLog("receivedata:->" + std::to_string(error) + "-" + std::strerror(error));
}

bool ToAddress(const std::string& dotted, std::int32_t port, sockaddr_in& address) {
    if (port < 1 || port > 65535)
        return false;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return ::inet_pton(AF_INET, dotted.c_str(), &address.sin_addr) == 1;
}

std::string DottedText(const in_addr& address) {
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &address, text, sizeof text) == nullptr)
        return std::string();
    return text;
}

// Waits up to `timeoutMs` for `events` on `fd`, in slices that let the host
// run, and gives up after the slice in which gAbort was set. 1 ready, 0 time
// out or abort, -1 failure.
int PollLettingHostRun(int fd, short events, long long timeoutMs) {
    const Clock::time_point start = Clock::now();
    for (;;) {
        const long long left = timeoutMs - MillisecondsSince(start);
        pollfd pfd{fd, events, 0};
        const int ready = ::poll(
            &pfd, 1, static_cast<int>(std::clamp<long long>(left, 0, clsFTPSocket::kWaitSliceMs)));
        if (ready > 0)
            return 1;
        if (ready < 0 && errno != EINTR)
            return -1;
        if (gAbort || left <= 0)
            return 0;
        CurrentHost().Yield();
    }
}

bool SetBlocking(int fd, bool blocking) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return false;
    return ::fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
}

// Connects a non-blocking socket and waits for the system's answer, at most
// `timeoutMs`: a host that drops packets would otherwise hold the program
// for minutes.
bool ConnectWithin(int fd, const sockaddr_in& address, int timeoutMs) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return true;
    if (errno != EINPROGRESS && errno != EINTR)
        return false;
    if (PollLettingHostRun(fd, POLLOUT, timeoutMs) != 1)
        return false;
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

// Dotted IPv4 address of one end of a connection, "" when there is none.
std::string EndAddress(int fd, int (*query)(int, sockaddr*, socklen_t*)) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (fd < 0 || query(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.sin_family != AF_INET)
        return std::string();
    return DottedText(address.sin_addr);
}

bool IsLineBreak(char c) {
    return c == '\r' || c == '\n';
}

} // namespace

std::string MaskedCommand(const std::string& command) {
    if (command.size() >= 4 && ::strncasecmp(command.c_str(), "PASS", 4) == 0) {
        const std::size_t hidden = command.size() > 5 ? command.size() - 5 : 0;
        return "PASS " + std::string(hidden, '*');
    }
    return command;
}

clsFTPSocket::~clsFTPSocket() {
    CloseDescriptor(hSocket_);
    CloseListener();
}

clsFTPSocket::clsFTPSocket(clsFTPSocket&& other) noexcept {
    *this = std::move(other);
}

clsFTPSocket& clsFTPSocket::operator=(clsFTPSocket&& other) noexcept {
    if (this != &other) {
        CloseDescriptor(hSocket_);
        CloseListener();
        Port = other.Port;
        Host = std::move(other.Host);
        State = other.State;
        hSocket_ = std::exchange(other.hSocket_, -1);
        listener_ = std::exchange(other.listener_, -1);
        listenerPort_ = other.listenerPort_;
        finished_ = other.finished_;
        buffer_ = std::move(other.buffer_);
        lastAddress_ = std::move(other.lastAddress_);
    }
    return *this;
}

std::string clsFTPSocket::mygethostbyname(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 ||
        found == nullptr)
        return host;
    std::string dotted;
    if (found->ai_addrlen >= sizeof(sockaddr_in) && found->ai_addr != nullptr)
        dotted = DottedText(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr);
    ::freeaddrinfo(found);
    if (dotted.empty())
        return host;
    lastAddress_ = dotted;
    return dotted;
}

bool clsFTPSocket::FTPConnect(const std::string& host, std::int32_t port) {
    if (!OpenConnection(host, port, kConnectTimeoutMs))
        return false;
    // Commands are single small writes that wait for a reply: never hold
    // one back waiting for an acknowledgement.
    const int on = 1;
    ::setsockopt(hSocket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return true;
}

bool clsFTPSocket::SimpleConnect(const std::string& host, std::int32_t port, int timeoutMs) {
    return OpenConnection(host, port, timeoutMs);
}

bool clsFTPSocket::OpenConnection(const std::string& host, std::int32_t port, int timeoutMs) {
    CloseDescriptor(hSocket_);
    finished_ = false;
    State = 1;
    if (host.empty())
        return false;
    sockaddr_in address{};
    if (!ToAddress(mygethostbyname(host), port, address))
        return false;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (fd < 0)
        return false;
    if (!ConnectWithin(fd, address, timeoutMs) || !SetBlocking(fd, true)) {
        CloseDescriptor(fd);
        return false;
    }
    hSocket_ = fd;
    State = 3;
    return true;
}

bool clsFTPSocket::ListenForConnection(std::int32_t port, const std::string& localAddress) {
    CloseListener();
    sockaddr_in address{};
    if (!ToAddress(localAddress, port, address))
        return false;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (fd < 0)
        return false;
    // The port is fixed: the last listing's connection may still linger in
    // TIME_WAIT on it.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 1) != 0) {
        CloseDescriptor(fd);
        return false;
    }
    listener_ = fd;
    listenerPort_ = port;
    return true;
}

void clsFTPSocket::WaitForConnection(std::int32_t port, const std::string& localAddress,
                                     const std::string& serverAddress) {
    CloseDescriptor(hSocket_);
    finished_ = false;
    if ((listener_ < 0 || listenerPort_ != port) && !ListenForConnection(port, localAddress))
        return;
    // Non-blocking accept, so the window really bounds the wait even when the
    // server never connects.
    const Clock::time_point start = Clock::now();
    for (;;) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        int fd = ::accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (fd >= 0) {
            // Whoever reaches the port first would otherwise hand us the
            // listing, or take the file we upload.
            const std::string from = DottedText(peer.sin_addr);
            if (from == serverAddress && !from.empty()) {
                SetBlocking(fd, true);
                hSocket_ = fd;
                break;
            }
            WriteLog(GetMsg("strMsgForeignDataConnection", "%a", from));
            CloseDescriptor(fd);
        }
        const long long left = kAcceptWindowMs - MillisecondsSince(start);
        if (PollLettingHostRun(listener_, POLLIN, left) != 1)
            break;
    }
    CloseListener();
}

bool clsFTPSocket::sendData(const std::string& text) {
    return SendLine(text);
}

bool clsFTPSocket::SendLine(const std::string& text) {
    const std::string line = TrimBlanks(text);
    const std::string logText = MaskedCommand(line);
    bool sent = false;
    if (std::find_if(line.begin(), line.end(), IsLineBreak) != line.end())
        WriteLog("CMD: " + ReplaceAll(ReplaceAll(logText, "\r", ""), "\n", "") +
                 " (not sent: line break inside a command)");
    else {
        const std::string wire = line + "\r\n";
        sent = SendAll(wire.data(), wire.size());
        if (!logText.empty())
            WriteLog("CMD: " + logText);
    }
    return sent;
}

bool clsFTPSocket::sendBinaryData(const std::string& data) {
    return SendAll(data.data(), data.size());
}

bool clsFTPSocket::SendAll(const char* data, std::size_t size) {
    if (hSocket_ < 0)
        return false;
    while (size > 0) {
        // MSG_NOSIGNAL: a peer that has closed must give us EPIPE, not kill
        // the process with SIGPIPE.
        const ssize_t n = ::send(hSocket_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        // A server that stops reading must not hold an upload for ever, nor
        // past the user's Ctrl-C: wait for room in slices.
        if (PollLettingHostRun(hSocket_, POLLOUT, kSendStallMs) != 1)
            return false;
    }
    return true;
}

int clsFTPSocket::ReceiveChunk(std::string& chunk, int waitMs) {
    chunk.clear();
    if (hSocket_ < 0) {
        if (!finished_)
            LogReceiveFailure(EBADF);
        finished_ = true;
        return 0;
    }
    pollfd pfd{hSocket_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, waitMs);
    if (ready == 0 || (ready < 0 && errno == EINTR))
        return 0;
    if (ready < 0) {
        LogReceiveFailure(errno);
        finished_ = true;
        return 0;
    }
    if (buffer_.empty())
        buffer_.resize(kReceiveBufferSize);
    const ssize_t n = ::recv(hSocket_, buffer_.data(), buffer_.size(), 0);
    if (n > 0) {
        chunk.assign(buffer_.data(), static_cast<std::size_t>(n));
        return static_cast<int>(n);
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return 0;
    if (n < 0)
        LogReceiveFailure(errno);
    finished_ = true;
    return 0;
}

std::int32_t clsFTPSocket::Getanswer(std::string& text, bool quiet) {
    text.clear();
    const Clock::time_point start = Clock::now();
    std::string chunk;
    while (!gAbort && ReceiveChunk(chunk, kReceiveWaitMs) > 0) {
        text += chunk;
        if (text.size() >= kAnswerByteCap || MillisecondsSince(start) >= kAnswerTimeCapMs)
            break;
    }
    if (!quiet && !TrimBlanks(text).empty()) {
        // The text's own last line end would only add an empty log line.
        std::string logged = text;
        while (!logged.empty() && IsLineBreak(logged.back()))
            logged.pop_back();
        WriteLog("REP: " + PrintableServerText(logged));
    }
    return static_cast<std::int32_t>(text.size());
}

std::int64_t clsFTPSocket::ReceiveData(std::string& data, int waitMs) {
    return ReceiveChunk(data, waitMs);
}

void clsFTPSocket::FTPDisconnect() {
    CloseDescriptor(hSocket_);
    CloseListener();
    finished_ = true;
}

void clsFTPSocket::CloseListener() {
    CloseDescriptor(listener_);
    listenerPort_ = 0;
}

std::string clsFTPSocket::LocalAddress() const {
    return EndAddress(hSocket_, ::getsockname);
}

std::string clsFTPSocket::PeerAddress() const {
    return EndAddress(hSocket_, ::getpeername);
}
