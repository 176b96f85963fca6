#pragma once
#include <cstdint>
#include <string>
#include <vector>

// One IPv4 TCP stream socket of the FTP client: the control connection or a
// data connection. Strings carry bytes unchanged in both directions.
class clsFTPSocket {
public:
    // How long one receive step waits for data before it counts as silence.
    static constexpr int kReceiveWaitMs = 250;
    // Longest wait for the system to answer a connect.
    static constexpr int kConnectTimeoutMs = 15000;
    // A send that makes no progress for this long gives up.
    static constexpr int kSendStallMs = 30000;
    // One Getanswer call collects at most this much, for at most this long,
    // so a peer that never falls silent cannot hold the program.
    static constexpr std::size_t kAnswerByteCap = 1 << 20;
    static constexpr int kAnswerTimeCapMs = 5000;
    // Active-mode accept window.
    static constexpr int kAcceptWindowMs = 1000;
    // Longest single sleep inside a wait: the host's Yield and gAbort are
    // looked at at least this often, so Ctrl-C ends any wait promptly.
    static constexpr int kWaitSliceMs = 100;

    clsFTPSocket() = default;
    ~clsFTPSocket();
    clsFTPSocket(const clsFTPSocket&) = delete;
    clsFTPSocket& operator=(const clsFTPSocket&) = delete;
    clsFTPSocket(clsFTPSocket&& other) noexcept;
    clsFTPSocket& operator=(clsFTPSocket&& other) noexcept;

    std::int32_t Port = 0;
    std::string Host;
    std::int32_t State = 1; // 1 closed, 3 connected

    // Dotted IPv4 address of a host name; the input itself when it cannot
    // be resolved (a dotted address typed by the user resolves to itself).
    std::string mygethostbyname(const std::string& host);

    // Opens the control connection. Connects of both kinds give up when
    // gAbort is set.
    bool FTPConnect(const std::string& host, std::int32_t port);
    // Opens a passive-mode data connection, waiting at most `timeoutMs` for
    // the system to answer.
    bool SimpleConnect(const std::string& host, std::int32_t port,
                       int timeoutMs = kConnectTimeoutMs);

    // Opens the active-mode listener on `localAddress`:`port` ahead of the
    // PORT command; some servers connect as soon as they read PORT.
    bool ListenForConnection(std::int32_t port, const std::string& localAddress);
    // Accepts the server's active-mode data connection for at most
    // kAcceptWindowMs (opening the listener first when it is not open yet),
    // then closes the listener. Only a connection from `serverAddress` is
    // taken: anybody else who reaches the port first is logged and closed,
    // and the wait goes on. The outcome shows in IsOpen and later reads.
    void WaitForConnection(std::int32_t port, const std::string& localAddress,
                           const std::string& serverAddress);

    // Sends one command line (trimmed, "\r\n" appended) and logs it with a
    // password masked. False when it could not be sent whole, or when the
    // text holds a line break (that would smuggle in a second command).
    bool sendData(const std::string& text);
    // Sends bytes as they are, unlogged. False when the peer stopped taking
    // them for kSendStallMs, or closed, or gAbort was set.
    bool sendBinaryData(const std::string& data);

    // Collects what arrives until the line falls silent (or gAbort is set)
    // and logs it, made printable, as "REP: " unless `quiet`. Returns the
    // length of the text.
    std::int32_t Getanswer(std::string& text, bool quiet = false);

    // One wait-and-receive step: the bytes that came within `waitMs`, up to
    // the size of the receive buffer. Returns their count; 0 for silence, a
    // closed connection or a failure (IsFinished tells the last two from
    // silence; a failure is logged).
    std::int64_t ReceiveData(std::string& data, int waitMs = kReceiveWaitMs);

    void FTPDisconnect();

    bool IsOpen() const { return hSocket_ >= 0; }
    // The peer has closed its end (a receive returned 0), or the socket
    // failed: nothing more will ever arrive on it.
    bool IsFinished() const { return finished_; }
    // Dotted IPv4 address of this end of the connection, "" when closed.
    std::string LocalAddress() const;
    // Dotted IPv4 address of the other end, "" when closed.
    std::string PeerAddress() const;

private:
    int ReceiveChunk(std::string& chunk, int waitMs);
    bool SendLine(const std::string& text);
    bool OpenConnection(const std::string& host, std::int32_t port, int timeoutMs);
    bool SendAll(const char* data, std::size_t size);
    void CloseListener();

    int hSocket_ = -1;
    int listener_ = -1;
    std::int32_t listenerPort_ = 0;
    bool finished_ = false;
    std::vector<char> buffer_;
    std::string lastAddress_;
};

// The text that stands in the log for a command: a password after "PASS"
// becomes one "*" per character.
std::string MaskedCommand(const std::string& command);
