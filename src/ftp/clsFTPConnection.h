#pragma once
#include "ftp/clsFTPAnswer.h"
#include "ftp/clsFTPFile.h"
#include "ftp/clsFTPSocket.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

class clsFile;

// One FTP client connection: the control socket, the data socket, login and
// the reply collector, and the transfers and folder operations on top.
//
// Every transfer and folder operation needs kLoggedIn and otherwise sends
// nothing and returns its failure value. Every wait, of whatever kind, ends
// promptly once gAbort is set, and the operation then fails.
class clsFTPConnection {
public:
    // The values are those of the stored state, kept for callers that
    // still compare with numbers.
    enum ConnectionState : std::int32_t {
        kLoggedIn = 0,
        kDisconnected = 1,
        kConnected = 3, // greeting read, not logged in
    };

    static constexpr std::int32_t kDefaultReplyTimeoutMs = 5000;
    static constexpr std::int32_t kGreetingAttempts = 10;
    // Active-mode listings: the local port announced as 55,55.
    static constexpr std::int32_t kActiveDataPort = 55 * 256 + 55;
    static constexpr std::int32_t kPassiveConnectWindowMs = 5000;
    static constexpr std::int64_t kUploadReadSize = 10000;
    // A data connection that brings nothing for this long, without being
    // closed, counts as ended.
    static constexpr std::int32_t kDataStallMs = 10000;
    // A listing larger than this is not a folder listing any more.
    static constexpr std::size_t kListingByteCap = 64u << 20;
    // Login name and password sent when no user name is set.
    static constexpr const char* kAnonymousUser = "anonymous";
    static constexpr const char* kAnonymousPassword = "tidevault@example.com";

    // GetFile results.
    static constexpr std::int16_t kGetFileFailed = 0;
    static constexpr std::int16_t kGetFileDone = 1;
    static constexpr std::int16_t kGetFileDeclined = 2;

    clsFTPConnection();
    ~clsFTPConnection() = default;
    clsFTPConnection(const clsFTPConnection&) = delete;
    clsFTPConnection& operator=(const clsFTPConnection&) = delete;

    clsFTPSocket ctrlSocket;
    clsFTPSocket sckData;
    bool bPassiveMode = false;
    // Every reply line parsed since the last ClearAnswers, oldest first.
    std::vector<clsFTPAnswer> Answers;

    // Stores the parameters; no network traffic.
    void SetupConnection(const std::string& host, std::int32_t port, const std::string& userName,
                         const std::string& password, bool passive);
    // Connect and Login with the stored parameters; true only when logged in.
    bool EstablishConnection();
    // Opens the control connection and reads the greeting (kDisconnected ->
    // kConnected).
    bool Connect(const std::string& host, std::int32_t port);
    // USER/pass exchange (kConnected -> kLoggedIn). An empty name logs in
    // anonymously.
    bool Login(const std::string& userName, const std::string& password);
    // Sends QUIT without waiting and closes both sockets (-> kDisconnected).
    bool Disconnect();

    ConnectionState connectionState() const { return connectionState_; }
    void connectionState(ConnectionState state) { connectionState_ = state; }

    // Waits for the next complete reply, at most `timeoutMs` (counted anew
    // once for a reply that opens as multi-line). Preliminary (1xx)
    // replies other than the expected one are passed over; the first final
    // reply ends the wait. Returns the expected code, or 0: for any other
    // code at once, for silence, a closed connection or gAbort. The reply's
    // last line goes to `replyLine` when one is given.
    std::int32_t WaitAnswer(std::int32_t expected, std::string* replyLine = nullptr,
                            std::int32_t timeoutMs = kDefaultReplyTimeoutMs);
    // Forgets the reply lines, and any reply that came without being waited
    // for, so a late reply cannot answer a later command.
    void ClearAnswers();
    // The code of the reply that ended the last wait, 0 when none came (a
    // 550 tells "no such file" from a lost connection).
    std::int32_t LastReplyCode() const { return lastReplyCode_; }

    // Downloads a remote file (passive mode only): kGetFileDone,
    // kGetFileFailed, or kGetFileDeclined when the user chose not to
    // overwrite an existing local file.
    std::int16_t GetFile(const std::string& remoteName, const std::string& localPath);
    // Uploads a local file into the remote folder (passive mode only).
    bool StoreFile(const std::string& localPath, const std::string& remoteFolder);
    // Lists the server's current folder; nothing when the listing could not
    // be started or did not end with the server's 226 (a cut listing must not
    // pass for a folder without the file), an empty list for an empty folder.
    std::optional<std::vector<clsFTPFile>> GetFileList();
    bool ChangeCurrentDirectory(std::string path);
    // Both fold "//" to "/" in the caller's path before sending it.
    bool CreateFTPDirectory(std::string& path);
    bool DeleteFTPDirectory(std::string& path);
    // RNFR/RNTO. Servers replace an existing target without asking: callers
    // that must not overwrite check the folder's listing first.
    bool Rename(const std::string& from, const std::string& to);
    // The login folder from PWD, "" when it cannot be read.
    std::string GetRootDir();

    const std::string& ServerHost() const { return serverHost_; }
    std::int32_t ServerPort() const { return serverPort_; }

private:
    // Every operation that waits for replies ends with ClearAnswers,
    // whichever way it returns.
    struct AnswersClearedOnReturn {
        clsFTPConnection& connection;
        ~AnswersClearedOnReturn() { connection.ClearAnswers(); }
    };
    static long long MillisecondsSince(std::chrono::steady_clock::time_point start);

    void SetServerHost(const std::string& host);
    void SetServerPort(std::int32_t port);

    std::int32_t WaitAnswerFor(std::initializer_list<std::int32_t> expected, std::string* replyLine,
                               std::int32_t timeoutMs);
    // The next reply, from those already in or from the socket; nothing
    // when `timeoutMs` passed since `start` (moved once for a multi-line
    // reply), the connection closed or gAbort was set.
    std::optional<FtpReply> ReadReply(std::chrono::steady_clock::time_point& start,
                                      std::int32_t timeoutMs);
    // Takes in, without waiting, every reply the server has already sent.
    void TakeRepliesAlreadyIn();
    void LogReply(const FtpReply& reply);
    // Waits for the start of a transfer: 150, or 125 from a server whose data
    // connection was already open.
    std::int32_t WaitTransferStart(std::string* replyLine);
    std::int32_t SimpleCommand(const std::string& command, std::int32_t expected);
    bool IsReadyForTransfer() const { return connectionState_ == kLoggedIn; }

    std::int32_t PasvPort(const std::string& replyLine);
    bool EnterPassiveMode(std::int32_t& port);
    bool OpenPassiveDataConnection(std::int32_t port);
    // Sends a transfer command, opens the data connection to `port` and
    // waits for the server's go-ahead; the data socket is closed on failure.
    bool StartPassiveTransfer(const std::string& command, std::int32_t port,
                              std::string* replyLine);
    bool DataHasEnded(std::chrono::steady_clock::time_point lastData);
    bool ReceiveToFile(clsFile& local, const std::string& remoteName, std::int64_t expected);
    void ParseListChunk(const std::string& chunk, std::vector<clsFTPFile>& files);
    bool ReadListing(std::vector<clsFTPFile>& files);
    std::optional<std::vector<clsFTPFile>> FinishListing();
    std::optional<std::vector<clsFTPFile>> GetFileListPassive();
    std::optional<std::vector<clsFTPFile>> GetFileListActive();

    ConnectionState connectionState_ = kDisconnected;
    FtpReplyReader reader_;
    // Replies taken in while no wait asked for them, oldest first.
    std::deque<FtpReply> waiting_;
    std::int32_t lastReplyCode_ = 0;
    std::string serverHost_;
    std::int32_t serverPort_ = 0;
    std::string userName_;
    std::string userPassword_;
};
