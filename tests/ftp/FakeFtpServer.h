#pragma once
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A scripted FTP server on 127.0.0.1, on a thread of the test process. It
// plays a script step by step: each step may wait for one command line
// starting with an expected text, then performs its actions (canned replies,
// data connections, misbehaviour). Every command line received is recorded,
// so a test can compare the exact transcript.
class FakeFtpSession;
using FakeAction = std::function<void(FakeFtpSession&)>;

struct FakeStep {
    std::string expect; // prefix of the command to wait for; "" runs at once
    std::vector<FakeAction> actions;
};

// Actions for scripts.
FakeAction Reply(const std::string& bytes); // sent as given
FakeAction Pause(int milliseconds);         // nothing for a while
FakeAction CloseControl();                  // hang up the control connection
FakeAction PassiveReply(const std::string& hostBytes = "127,0,0,1"); // 227 with a real port
FakeAction SendOnData(const std::string& bytes);                     // accept, send, close normally
FakeAction SendOnDataInParts(const std::vector<std::string>& parts, int pauseMs);
FakeAction DropDataAfter(const std::string& bytes);   // accept, send, reset the connection
FakeAction ReceiveOnData();                           // accept, read until the client closes
FakeAction DropDataAfterReceiving(std::size_t bytes); // accept, read some, reset
FakeAction TrickleForever(const std::string& bytes);  // never falls silent, never ends
FakeAction ConnectToClient(int port, const std::string& bytes); // active mode: connect, send

class FakeFtpServer {
public:
    // Starts listening on `port` (0: any free port) and serves one session.
    explicit FakeFtpServer(std::vector<FakeStep> script, int port = 0);
    ~FakeFtpServer();
    FakeFtpServer(const FakeFtpServer&) = delete;
    FakeFtpServer& operator=(const FakeFtpServer&) = delete;

    bool Listening() const { return listener_ >= 0; }
    int Port() const { return port_; }

    // Command lines received so far, without their line ends.
    std::vector<std::string> Commands() const;
    // The transcript once the session has ended (the client hung up), waiting
    // at most a few seconds for that.
    std::vector<std::string> FinalCommands();
    // Bytes received on data connections.
    std::string Uploaded() const;
    // Script mismatches: an unexpected command, or a wait that ran out.
    std::vector<std::string> Problems() const;

private:
    friend class FakeFtpSession;
    void Run();
    void Record(const std::string& line);
    void Problem(const std::string& text);

    std::vector<FakeStep> script_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> commands_;
    std::vector<std::string> problems_;
    std::string uploaded_;
    std::thread thread_;
};

// What an action can do with the session it runs in.
class FakeFtpSession {
public:
    FakeFtpSession(FakeFtpServer& server, int control) : server_(server), control_(control) {}
    ~FakeFtpSession();
    FakeFtpSession(const FakeFtpSession&) = delete;
    FakeFtpSession& operator=(const FakeFtpSession&) = delete;

    bool Send(const std::string& bytes);
    void CloseControl();
    bool ControlOpen() const { return control_ >= 0; }
    // Reads one command line; false when the client hung up or the wait ran out.
    bool ReadLine(std::string& line);
    bool Stopping() const { return server_.stop_; }

    int OpenPassiveListener(); // the port, 0 on failure
    bool AcceptData();
    bool SendData(const std::string& bytes);
    std::string ReceiveData(std::size_t limit);
    void CloseData(bool reset);
    bool ConnectData(int port);
    void AddUploaded(const std::string& bytes);

private:
    FakeFtpServer& server_;
    int control_;
    int passive_ = -1;
    int data_ = -1;
    std::string pending_;
};

// A loopback port with nothing listening on it (bound once, then released).
int ClosedLoopbackPort();
