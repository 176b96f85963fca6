#pragma once
#include "ftp/clsFTPAnswer.h"
#include "ftp/clsFTPFile.h"
#include "ftp/clsFTPSocket.h"

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

// One FTP client connection: the control socket, the data socket, login and
// the reply collector, and the transfers and folder operations on top.
//
// connectionState: 1 disconnected, 3 connected (greeting read), 0 logged in.
// Every transfer and folder operation needs state 0 and otherwise sends
// nothing and returns its failure value.
class clsFTPConnection {
public:
    static constexpr std::int32_t kDefaultReplyTimeoutMs = 5000;
    static constexpr std::int32_t kGreetingAttempts = 10;
    // Active-mode listings: the local port announced as 55,55.
    static constexpr std::int32_t kActiveDataPort = 55 * 256 + 55;
    static constexpr std::int32_t kPassiveConnectWindowMs = 5000;
    // Pause before the first read of a download; also how long the end of a
    // download waits for the server's 226.
    static constexpr std::int32_t kDownloadPauseMs = 1000;
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
    // Opens the control connection and reads the greeting (state 1 -> 3).
    bool Connect(const std::string& host, std::int32_t port);
    // USER/pass exchange (state 3 -> 0). An empty name logs in anonymously.
    bool Login(const std::string& userName, const std::string& password);
    // Sends QUIT without waiting and closes both sockets (state 3 or 0 -> 1).
    bool Disconnect();

    std::int32_t connectionState() const { return connectionState_; }
    void connectionState(std::int32_t state) { connectionState_ = state; }

    // Waits for a reply line with the expected code, at most `timeoutMs`.
    // Returns that code, or 0 (never another code: other lines stay in
    // Answers). The line goes to `replyLine` when one is given.
    std::int32_t WaitAnswer(std::int32_t expected, std::string* replyLine = nullptr,
                            std::int32_t timeoutMs = kDefaultReplyTimeoutMs);
    void ClearAnswers();
    // The code of the last reply line the latest operation read, 0 for none:
    // tells "no such file" (550) from other failed downloads.
    std::int32_t LastReplyCode() const { return lastReplyCode_; }

    // Downloads a remote file (passive mode only): kGetFileDone,
    // kGetFileFailed, or kGetFileDeclined when the user chose not to
    // overwrite an existing local file.
    std::int16_t GetFile(const std::string& remoteName, const std::string& localPath);
    // Uploads a local file into the remote folder (passive mode only).
    bool StoreFile(const std::string& localPath, const std::string& remoteFolder);
    // Lists the server's current folder; nothing when the listing could not
    // be started, an empty list for an empty folder.
    std::optional<std::vector<clsFTPFile>> GetFileList();
    bool ChangeCurrentDirectory(std::string path);
    // Both fold "//" to "/" in the caller's path before sending it.
    bool CreateFTPDirectory(std::string& path);
    bool DeleteFTPDirectory(std::string& path);
    // The login folder from PWD, "" when it cannot be read.
    std::string GetRootDir();

    const std::string& ServerHost() const { return serverHost_; }
    std::int32_t ServerPort() const { return serverPort_; }

private:
    void SetServerHost(const std::string& host);
    void SetServerPort(std::int32_t port);

    std::int32_t WaitAnswerFor(std::initializer_list<std::int32_t> expected, std::string* replyLine,
                               std::int32_t timeoutMs);
    // Waits for the start of a transfer: 150, or 125 from a server whose data
    // connection was already open.
    std::int32_t WaitTransferStart(std::string* replyLine);
    std::int32_t SimpleCommand(const std::string& command, std::int32_t expected);
    bool IsReadyForTransfer() const { return connectionState_ == 0; }

    std::int32_t PasvPort(const std::string& replyLine);
    bool EnterPassiveMode(std::int32_t& port);
    bool OpenPassiveDataConnection(std::int32_t port);
    bool DataHasEnded(std::chrono::steady_clock::time_point lastData);
    void ParseListChunk(const std::string& chunk, std::vector<clsFTPFile>& files);
    bool ReadListing(std::vector<clsFTPFile>& files);
    std::optional<std::vector<clsFTPFile>> GetFileListPassive();
    std::optional<std::vector<clsFTPFile>> GetFileListActive();

    std::int32_t connectionState_ = 1;
    std::int32_t lastReplyCode_ = 0;
    std::string serverHost_;
    std::int32_t serverPort_ = 0;
    std::string userName_;
    std::string userPassword_;
};
