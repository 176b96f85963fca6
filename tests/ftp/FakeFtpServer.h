#pragma once
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A scripted FTP server on 127.0.0.1, on a thread of the test process, for
// the failures real servers do not produce on demand. It plays one session
// step by step: a step may wait for a command line starting with a given
// text, then performs its actions. Every command line is recorded.
class FakeFtpServer;
using FakeAction = std::function<void(FakeFtpServer&)>;

struct FakeStep {
    FakeStep(std::string expect, std::vector<FakeAction> actions);
    // One reply line ("\r\n" added); "" sends nothing.
    FakeStep(std::string expect, const char* reply);
    std::string expect; // prefix of the command to wait for; "" runs at once
    std::vector<FakeAction> actions;
};
std::vector<FakeStep> operator+(std::vector<FakeStep> a, const std::vector<FakeStep>& b);

FakeAction Reply(const std::string& bytes); // sent as given
FakeAction Pause(int milliseconds);         // cut short when the test ends
FakeAction CloseControl();
FakeAction PassiveReply(const std::string& hostBytes = "127,0,0,1"); // 227 with a real port
FakeAction ClosePassivePort();
FakeAction SendOnData(const std::vector<std::string>& parts, int pauseMs = 0); // then close
FakeAction DropDataAfter(const std::string& bytes);              // accept, send, reset
FakeAction ReceiveOnData(std::size_t limit = std::string::npos); // accept, read; reset at limit
FakeAction HoldData();                               // accept, then neither read nor close
FakeAction TrickleForever(const std::string& bytes); // never falls silent, never ends
FakeAction ConnectToClient(int port, const std::string& bytes, const std::string& from);
FakeAction Signal(); // tells the test the script got here

class FakeFtpServer {
public:
    // Listens on `port` (0: any free port) and serves one session.
    explicit FakeFtpServer(std::vector<FakeStep> script, int port = 0);
    ~FakeFtpServer();
    FakeFtpServer(const FakeFtpServer&) = delete;
    FakeFtpServer& operator=(const FakeFtpServer&) = delete;

    bool Listening() const { return listener_ >= 0; }
    int Port() const { return port_; }
    bool Signalled() const { return signalled_; }
    // Command lines received so far, without their line ends.
    std::vector<std::string> Commands() const;
    // The transcript once the client hung up (waiting a few seconds for it).
    std::vector<std::string> FinalCommands();
    std::string Uploaded() const;
    // Script mismatches: an unexpected command, or a wait that ran out.
    std::vector<std::string> Problems() const;

    // For actions.
    bool Send(const std::string& bytes);
    void CloseControl();
    void Sleep(int milliseconds);
    int OpenPassive();
    void ClosePassive();
    bool AcceptData();
    bool SendData(const std::string& bytes);
    void ReceiveData(std::size_t limit);
    void CloseData(bool reset);
    bool ConnectData(int port, const std::string& from);
    void SetSignalled() { signalled_ = true; }

private:
    void Run();
    bool ReadLine(std::string& line);
    void Problem(const std::string& text);

    std::vector<FakeStep> script_;
    int listener_ = -1;
    int port_ = 0;
    int control_ = -1;
    int passive_ = -1;
    int data_ = -1;
    std::string pending_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::atomic<bool> signalled_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> commands_;
    std::vector<std::string> problems_;
    std::string uploaded_;
    std::thread thread_;
};

// A loopback port with nothing listening on it (bound once, then released).
int ClosedLoopbackPort();
