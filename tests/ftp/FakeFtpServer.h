#pragma once
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Strings = std::vector<std::string>;
using Blobs = std::map<std::string, std::string>;

// A scripted FTP server on 127.0.0.1, on a thread of the test process, for
// the failures real servers do not produce on demand. It plays one session.
// The script is the transcript: steps separated by "|", each
// "COMMAND=ACTION;ACTION;...": wait for the command line COMMAND ("" waits
// for nothing), then act. An action is a reply line ("\r\n" added) or one of
//   @raw TEXT      TEXT without a line end     @pause MS   cut short at the end
//   @close         hang up                     @signal     Signalled() from now on
//   @pasv [ADDR]   227 with a real port, naming ADDR (default 127,0,0,1)
//   @closepasv     close that port again       @accept     take the data connection
//   @send BLOB     send a blob, or BLOB itself @data BLOB  @accept, @send, @eof
//   @eof, @reset   close the data connection normally, or with a reset
//   @recv [N]      read until the client closes, or N bytes, into Uploaded()
//   @connect FROM  active mode: connect from address FROM to 127.0.0.1:14135
//   @trickle TEXT  send TEXT byte by byte for ever
class FakeFtpServer {
public:
    // Port 0: any free port; Port() is 0 when `port` cannot be had.
    explicit FakeFtpServer(const std::string& script, ::Blobs blobs = {}, int port = 0);
    ~FakeFtpServer();
    FakeFtpServer(const FakeFtpServer&) = delete;
    FakeFtpServer& operator=(const FakeFtpServer&) = delete;

    int Port() const { return port_; }
    bool Signalled() const { return signalled_; }
    const ::Blobs& Blobs() const { return blobs_; }
    std::string Uploaded() const;
    // Once the client has hung up (waiting some seconds for that): how the
    // session strayed from the script. A command other than the one expected,
    // a step never reached, anything after the script but one QUIT.
    Strings Problems();

private:
    void Run();
    bool ReadLine(std::string& line);
    void Act(const std::string& action);
    bool Send(int fd, const std::string& bytes);
    void Sleep(int milliseconds);
    void Problem(const std::string& text);

    std::string script_;
    ::Blobs blobs_;
    int listener_ = -1, port_ = 0, control_ = -1, passive_ = -1, data_ = -1;
    std::string pending_;
    std::atomic<bool> stop_{false}, done_{false}, signalled_{false};
    mutable std::mutex mutex_;
    Strings problems_;
    std::string uploaded_;
    std::thread thread_;
};

// A loopback port with nothing listening on it (bound once, then released).
int ClosedLoopbackPort();
