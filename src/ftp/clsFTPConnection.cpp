#include "ftp/clsFTPConnection.h"

#include "archive/clsFile.h"
#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "core/host.h"
#include "core/Progress.h"
#include "i18n/Catalogue.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/TextConvert.h"

#include <algorithm>
#include <chrono>
#include <sys/stat.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A flood of reply lines must not fill the memory; the expected code is
// still looked for in lines past this count, they are only not kept.
constexpr std::size_t kAnswersKept = 1000;

bool EndsWithLineEnd(const std::string& text) {
    return text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t end = text.find("\r\n", pos);
        lines.push_back(text.substr(pos, end - pos));
        if (end == std::string::npos)
            break;
        pos = end + 2;
    }
    return lines;
}

bool IsListBlank(char c) {
    return c == ' ' || c == '\t';
}

// The name in one line of a Unix long listing: everything after the eighth
// blank-separated field (rights, links, owner, group, size and three date
// fields), blanks inside the name kept. Owner names and sizes vary in width
// from server to server, so a fixed column would cut names; only lines with
// fewer fields fall back to column 56.
std::string NameOfListLine(const std::string& line) {
    std::size_t pos = 0;
    int fields = 0;
    while (fields < 8) {
        while (pos < line.size() && IsListBlank(line[pos]))
            ++pos;
        if (pos == line.size())
            break;
        while (pos < line.size() && !IsListBlank(line[pos]))
            ++pos;
        ++fields;
    }
    while (pos < line.size() && IsListBlank(line[pos]))
        ++pos;
    if (fields == 8 && pos < line.size())
        return line.substr(pos);
    return line.size() >= 56 ? TrimBlanks(line.substr(55)) : std::string();
}

// A byte value of a PASV reply: 0..255, nothing else.
std::optional<int> PortByte(const std::string& text) {
    const std::optional<std::int64_t> value = StrictInteger(text);
    if (!value || *value < 0 || *value > 255)
        return std::nullopt;
    return static_cast<int>(*value);
}

// The path of a 257 reply: the text between the first double quote and the
// closing one, with a doubled quote standing for one quote in the name (as
// servers write it). Without a closing quote we cannot tell where the path
// ends, and a guessed path would send later commands into the wrong folder,
// so the result is "" as for any unreadable reply.
std::string QuotedPath(const std::string& reply) {
    const std::string line = reply.substr(0, reply.find("\r\n"));
    std::size_t pos = line.find('"');
    if (pos == std::string::npos)
        return std::string();
    std::string path;
    for (++pos; pos < line.size(); ++pos) {
        if (line[pos] != '"')
            path += line[pos];
        else if (pos + 1 < line.size() && line[pos + 1] == '"')
            path += line[pos++];
        else
            return path;
    }
    return std::string();
}

// The size announced in a 150 reply such as "... (1234 bytes)", 0 when
// there is none.
std::int64_t AnnouncedSize(const std::string& reply) {
    const std::size_t open = reply.find('(');
    if (open == std::string::npos)
        return 0;
    const std::size_t close = reply.find(')', open);
    if (close == std::string::npos)
        return 0;
    const std::string text =
        TrimBlanks(ReplaceAll(reply.substr(open + 1, close - open - 1), "bytes", ""));
    const std::optional<std::int64_t> size = StrictInteger(text);
    return size && *size > 0 ? *size : 0;
}

// Nothing at all at the path: no file, folder, device or link.
bool PathIsFree(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) != 0;
}

void PauseLettingMessagesRun(int milliseconds) {
    const Clock::time_point start = Clock::now();
    while (MillisecondsSince(start) <= milliseconds) {
        CurrentHost().Yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

double Percent(std::int64_t part, std::int64_t whole) {
    return whole > 0 ? static_cast<double>(part) * 100.0 / static_cast<double>(whole) : 0.0;
}

// Every operation that waits for replies leaves Answers empty, so that old
// lines cannot satisfy a later wait, whichever way it returns.
class AnswersClearedOnReturn {
public:
    explicit AnswersClearedOnReturn(clsFTPConnection& connection) : connection_(connection) {}
    ~AnswersClearedOnReturn() { connection_.ClearAnswers(); }
    AnswersClearedOnReturn(const AnswersClearedOnReturn&) = delete;
    AnswersClearedOnReturn& operator=(const AnswersClearedOnReturn&) = delete;

private:
    clsFTPConnection& connection_;
};

} // namespace

clsFTPConnection::clsFTPConnection() {
    ctrlSocket.bControlChannel = true;
}

void clsFTPConnection::SetServerHost(const std::string& host) {
    serverHost_ = host;
    ctrlSocket.Host = host;
    sckData.Host = host;
}

void clsFTPConnection::SetServerPort(std::int32_t port) {
    serverPort_ = port;
    ctrlSocket.Port = port;
    sckData.Port = port;
}

void clsFTPConnection::SetupConnection(const std::string& host, std::int32_t port,
                                       const std::string& userName, const std::string& password,
                                       bool passive) {
    userName_ = userName;
    userPassword_ = password;
    SetServerHost(host);
    SetServerPort(port);
    bPassiveMode = passive;
}

bool clsFTPConnection::EstablishConnection() {
    return Connect(serverHost_, serverPort_) && Login(userName_, userPassword_);
}

bool clsFTPConnection::Connect(const std::string& host, std::int32_t port) {
    SetServerHost(host);
    SetServerPort(port);
    if (connectionState_ != 1)
        return false;
    if (!ctrlSocket.FTPConnect(serverHost_, serverPort_))
        return false;
    for (int attempt = 0; attempt < kGreetingAttempts; ++attempt) {
        if (WaitAnswer(220) == 220)
            break;
        WriteLog("Couldn't read servers welcome message!");
        CurrentHost().Yield();
    }
    // Without a greeting the login that follows fails or succeeds on its own.
    ClearAnswers();
    connectionState_ = 3;
    return true;
}

bool clsFTPConnection::Login(const std::string& userName, const std::string& password) {
    userName_ = userName;
    userPassword_ = password;
    if (connectionState_ != 3)
        return false;
    AnswersClearedOnReturn clear(*this);
    const bool anonymous = userName.empty();
    const std::string name = anonymous ? kAnonymousUser : userName;
    const std::string secret = anonymous ? kAnonymousPassword : password;

    std::int32_t code = ctrlSocket.sendData("USER " + name) ? WaitAnswer(331) : 0;
    WriteLog(">...Login," + std::to_string(code) + "," + std::to_string(connectionState_));
    // A server that answers 230 straight away, without asking for the
    // password, is not taken as logged in.
    if (code != 331)
        return false;
    code = ctrlSocket.sendData("pass " + secret) ? WaitAnswer(230) : 0;
    WriteLog(">...Login," + std::to_string(code) + "," + std::to_string(connectionState_));
    if (code != 230)
        return false;
    connectionState_ = 0;
    return true;
}

bool clsFTPConnection::Disconnect() {
    if (connectionState_ != 3 && connectionState_ != 0)
        return false;
    ctrlSocket.sendData("QUIT");
    sckData.FTPDisconnect();
    ctrlSocket.FTPDisconnect();
    connectionState_ = 1;
    return true;
}

std::int32_t clsFTPConnection::WaitAnswer(std::int32_t expected, std::string* replyLine,
                                          std::int32_t timeoutMs) {
    return WaitAnswerFor({expected}, replyLine, timeoutMs);
}

std::int32_t clsFTPConnection::WaitAnswerFor(std::initializer_list<std::int32_t> expected,
                                             std::string* replyLine, std::int32_t timeoutMs) {
    const auto isExpected = [&](std::int32_t code) {
        return code != 0 && std::find(expected.begin(), expected.end(), code) != expected.end();
    };
    for (const clsFTPAnswer& answer : Answers) {
        if (isExpected(answer.replycode)) {
            if (replyLine != nullptr)
                *replyLine = answer.replytext;
            return answer.replycode;
        }
    }

    Clock::time_point start = Clock::now();
    std::int32_t result = 0;
    bool multiLineOpen = false;
    bool timeoutRestarted = false;
    std::string pendingCode;
    std::string chunk;
    for (;;) {
        ctrlSocket.Getanswer(chunk);
        if (chunk.size() > 4 && chunk[3] == '-' && ReplyCodeOf(chunk) != 0) {
            pendingCode = chunk.substr(0, 3);
            multiLineOpen = true;
            // Long greetings get the full time once; restarting on every
            // chunk would let a server that keeps opening replies hold us.
            if (!timeoutRestarted)
                start = Clock::now();
            timeoutRestarted = true;
        }
        if (multiLineOpen && chunk.find(pendingCode + " ") != std::string::npos)
            multiLineOpen = false;
        if (!multiLineOpen) {
            if (!chunk.empty() && EndsWithLineEnd(chunk)) {
                for (const std::string& piece : SplitLines(chunk.substr(0, chunk.size() - 2))) {
                    if (piece.size() <= 3)
                        continue;
                    const std::int32_t code = ReplyCodeOf(piece);
                    if (Answers.size() < kAnswersKept)
                        Answers.push_back({piece, code});
                    if (isExpected(code)) {
                        result = code;
                        if (replyLine != nullptr)
                            *replyLine = piece;
                    }
                }
            }
            if (result != 0)
                break;
            CurrentHost().Yield();
        }
        // A closed connection will never bring the code: the wait would
        // only run out the clock for the same result.
        if (chunk.empty() && ctrlSocket.IsFinished())
            break;
        if (MillisecondsSince(start) > timeoutMs)
            break;
    }
    return result;
}

void clsFTPConnection::ClearAnswers() {
    Answers.clear();
}

std::int32_t clsFTPConnection::WaitTransferStart(std::string* replyLine) {
    // 125 says the same as 150 for a data connection that was already open;
    // pyftpdlib sends it when our connect reached it before the command did.
    return WaitAnswerFor({150, 125}, replyLine, kDefaultReplyTimeoutMs);
}

std::int32_t clsFTPConnection::SimpleCommand(const std::string& command, std::int32_t expected) {
    if (!IsReadyForTransfer())
        return 0;
    AnswersClearedOnReturn clear(*this);
    if (!ctrlSocket.sendData(command))
        return 0;
    return WaitAnswer(expected);
}

bool clsFTPConnection::ChangeCurrentDirectory(std::string path) {
    path = ReplaceAll(path, "//", "/");
    return SimpleCommand("CWD " + path, 250) == 250;
}

bool clsFTPConnection::CreateFTPDirectory(std::string& path) {
    path = ReplaceAll(path, "//", "/");
    return SimpleCommand("MKD " + path, 257) == 257;
}

bool clsFTPConnection::DeleteFTPDirectory(std::string& path) {
    path = ReplaceAll(path, "//", "/");
    return SimpleCommand("RMD " + path, 250) == 250;
}

std::string clsFTPConnection::GetRootDir() {
    if (!IsReadyForTransfer() || !ctrlSocket.sendData("PWD"))
        return std::string();
    std::string reply;
    ctrlSocket.Getanswer(reply);
    return ReplyCodeOf(reply) == 257 ? QuotedPath(reply) : std::string();
}

std::int32_t clsFTPConnection::PasvPort(const std::string& replyLine) {
    if (ReplyCodeOf(replyLine) != 227) {
        WriteLog("Server(" + serverHost_ + ")->Tidevault:" + replyLine);
        return 0;
    }
    const std::size_t open = replyLine.find('(');
    const std::size_t close = replyLine.find(')');
    if (open == std::string::npos || close == std::string::npos || close <= open + 1)
        return 0;
    const std::string inner = replyLine.substr(open + 1, close - open - 1);
    std::size_t pos = 0;
    for (int comma = 0; comma < 4; ++comma) {
        pos = inner.find(',', pos);
        if (pos == std::string::npos)
            return 0;
        ++pos;
    }
    // What is left is "p1,p2". A port part without its comma is read as no
    // port at all, which fails the data connection instead of guessing one.
    const std::string portPart = inner.substr(pos);
    const std::size_t comma = portPart.find(',');
    if (comma == std::string::npos)
        return 0;
    const std::optional<int> high = PortByte(portPart.substr(0, comma));
    const std::optional<int> low = PortByte(portPart.substr(comma + 1));
    if (!high || !low)
        return 0;
    return *high * 256 + *low;
}

bool clsFTPConnection::EnterPassiveMode(std::int32_t& port) {
    std::string reply;
    if (!ctrlSocket.sendData("PASV") || WaitAnswer(227, &reply) != 227) {
        WriteLog(GetMsg("strMsgFailedToEnterPassiveMode"));
        return false;
    }
    port = PasvPort(reply);
    return true;
}

bool clsFTPConnection::OpenPassiveDataConnection(std::int32_t port) {
    // The data connection always goes to the host we know: the address in
    // the PASV reply is often a private one behind the server's NAT.
    bool connected = false;
    if (port > 0) {
        const Clock::time_point start = Clock::now();
        for (;;) {
            CurrentHost().Yield();
            const long long left = kPassiveConnectWindowMs - MillisecondsSince(start);
            connected = sckData.SimpleConnect(serverHost_, port,
                                              static_cast<int>(std::max<long long>(left, 1)));
            if (connected || MillisecondsSince(start) > kPassiveConnectWindowMs)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    if (!connected)
        WriteLog(GetMsg("strMsgFailCreateDC"));
    return connected;
}

bool clsFTPConnection::DataHasEnded(std::chrono::steady_clock::time_point lastData) {
    // A server ends a transfer by closing the data connection. A quiet
    // spell alone is no end: on a slow link it would cut a listing short
    // without anyone noticing, or fail a download that was still coming.
    if (sckData.IsFinished() || MillisecondsSince(lastData) > kDataStallMs)
        return true;
    CurrentHost().Yield();
    return false;
}

void clsFTPConnection::ParseListChunk(const std::string& chunk, std::vector<clsFTPFile>& files) {
    std::string text = chunk;
    int lineEnds = 0;
    while (EndsWithLineEnd(text)) {
        text.resize(text.size() - 2);
        ++lineEnds;
    }
    if (lineEnds == 0)
        return;
    for (const std::string& line : SplitLines(text)) {
        clsFTPFile entry;
        entry.strName = NameOfListLine(line);
        entry.bDir = !line.empty() && line[0] == 'd';
        files.push_back(std::move(entry));
    }
}

bool clsFTPConnection::ReadListing(std::vector<clsFTPFile>& files) {
    // A chunk may end inside a line when the server pauses; the part after
    // the last line end waits for the next chunk instead of being lost.
    std::string pending;
    std::string chunk;
    std::size_t total = 0;
    Clock::time_point lastData = Clock::now();
    for (;;) {
        if (sckData.Getanswer(chunk) == 0) {
            if (DataHasEnded(lastData))
                break;
            continue;
        }
        lastData = Clock::now();
        total += chunk.size();
        if (total > kListingByteCap)
            return false;
        pending += chunk;
        const std::size_t lastEnd = pending.rfind("\r\n");
        if (lastEnd == std::string::npos)
            continue;
        ParseListChunk(pending.substr(0, lastEnd + 2), files);
        pending.erase(0, lastEnd + 2);
    }
    // A last line without its end is not trusted; the parser drops it.
    ParseListChunk(pending, files);
    return true;
}

std::optional<std::vector<clsFTPFile>> clsFTPConnection::GetFileList() {
    if (!IsReadyForTransfer())
        return std::nullopt;
    return bPassiveMode ? GetFileListPassive() : GetFileListActive();
}

std::optional<std::vector<clsFTPFile>> clsFTPConnection::GetFileListPassive() {
    AnswersClearedOnReturn clear(*this);
    std::int32_t port = 0;
    if (!EnterPassiveMode(port))
        return std::nullopt;
    if (!ctrlSocket.sendData("LIST") || !OpenPassiveDataConnection(port))
        return std::nullopt;
    // Without 150 the server refused the listing; reading on would return
    // an empty folder that is not there.
    if (WaitTransferStart(nullptr) == 0) {
        sckData.FTPDisconnect();
        return std::nullopt;
    }
    std::vector<clsFTPFile> files;
    const bool complete = ReadListing(files);
    sckData.FTPDisconnect();
    WaitAnswer(226);
    if (!complete)
        return std::nullopt;
    return files;
}

std::optional<std::vector<clsFTPFile>> clsFTPConnection::GetFileListActive() {
    // The address the server reached us at is the one it can connect back to.
    const std::string address = ctrlSocket.LocalAddress();
    // Listen before PORT: pyftpdlib connects as soon as it reads PORT, before
    // it answers, and would find nobody listening after LIST.
    sckData.ListenForConnection(kActiveDataPort, address);
    std::string reply;
    ctrlSocket.sendData("PORT " + ReplaceAll(address, ".", ",") + ",55,55");
    ctrlSocket.Getanswer(reply);
    if (ReplyCodeOf(reply) != 200) {
        sckData.FTPDisconnect();
        CurrentHost().MessageBox("Port command failed!", MsgButtons::Ok, MsgIcon::Critical);
        return std::nullopt;
    }
    ctrlSocket.sendData("LIST");
    sckData.WaitForConnection(kActiveDataPort, address);
    ctrlSocket.Getanswer(reply);
    const std::int32_t start = ReplyCodeOf(reply);
    // A server that never connected gives no listing, not an empty one.
    if ((start != 150 && start != 125) || !sckData.IsOpen()) {
        sckData.FTPDisconnect();
        return std::nullopt;
    }
    std::vector<clsFTPFile> files;
    const bool complete = ReadListing(files);
    sckData.FTPDisconnect();
    ctrlSocket.Getanswer(reply);
    if (!complete)
        return std::nullopt;
    return files;
}

std::int16_t clsFTPConnection::GetFile(const std::string& remoteName,
                                       const std::string& localPath) {
    // Checked before the question below: asking to replace a file, and
    // deleting it, for a download that cannot even start would lose it.
    if (!IsReadyForTransfer() || !bPassiveMode)
        return kGetFileFailed;
    if (FileExists(localPath)) {
        const std::string question = GetMsg("strMsgFileExistsOverWrite", "%d", localPath);
        if (CurrentHost().MessageBox(question, MsgButtons::YesNo, MsgIcon::Question) !=
            MsgAnswer::Yes)
            return kGetFileDeclined;
        if (!RemoveFile(localPath))
            return kGetFileFailed;
    }
    // Only a file this download created is removed when it fails.
    const bool created = PathIsFree(localPath);
    clsFile local;
    if (local.fOpen(localPath, clsFile::kWrite) != 1)
        return kGetFileFailed;
    local.TruncateFile(0);

    AnswersClearedOnReturn clear(*this);
    bool progressShown = false;
    const auto fail = [&]() {
        sckData.FTPDisconnect();
        local.fClose();
        if (created && FileExists(localPath))
            RemoveFile(localPath);
        if (progressShown)
            CloseProgress();
        return kGetFileFailed;
    };

    std::int32_t port = 0;
    if (!EnterPassiveMode(port))
        return fail();
    ctrlSocket.sendData("TYPE I");
    WaitAnswer(200);
    if (!ctrlSocket.sendData("RETR " + remoteName) || !OpenPassiveDataConnection(port))
        return fail();
    std::string reply;
    if (WaitTransferStart(&reply) == 0) {
        WriteLog(GetMsg("strMsgDownloadFailed", "%d", remoteName));
        return fail();
    }
    const std::int64_t expected = AnnouncedSize(reply);

    const std::string caption = GetMsg("strMsgDownloadingFile") + "...";
    ShowProgress(caption);
    progressShown = true;
    UpdateProgress(caption, remoteName, 0, 0);
    WriteLog(GetMsg("strMsgDownloadingFile") + ": " + remoteName);
    PauseLettingMessagesRun(kDownloadPauseMs);

    // Each receive step goes to the file at once, so memory does not grow
    // with the size of the download.
    const std::string downloadingFrom = GetMsg("strMsgDownloadingFrom", "%h", serverHost_);
    std::int32_t result = 0;
    std::int64_t received = 0;
    std::string data;
    Clock::time_point lastData = Clock::now();
    for (;;) {
        const std::int64_t count = sckData.ReceiveData(data);
        if (gAbort)
            return fail();
        if (count <= 0 && !DataHasEnded(lastData))
            continue;
        if (count <= 0) {
            result = WaitAnswer(226, nullptr, kDownloadPauseMs);
            break;
        }
        lastData = Clock::now();
        if (local.fWrite(data, count, received) < count) {
            WriteLog(GetMsg("strMsgErrorWritingFile"));
            return fail();
        }
        received += count;
        if (gPaused)
            PauseRun();
        const double percent = Percent(received, expected);
        UpdateProgress(downloadingFrom, remoteName, percent, percent);
        CurrentHost().Yield();
    }
    sckData.FTPDisconnect();
    if (result != 226)
        result = WaitAnswer(226);
    ClearAnswers();
    // A file that cannot be closed cleanly is not a downloaded file.
    if (result != 226 || !local.fClose()) {
        WriteLog(GetMsg("strMsgDownloadFailed", "%d", remoteName));
        return fail();
    }
    WriteLog(GetMsg("strMsgDownloadOK", "%f", remoteName));
    CloseProgress();
    ctrlSocket.sendData("TYPE A");
    WaitAnswer(200);
    return kGetFileDone;
}

bool clsFTPConnection::StoreFile(const std::string& localPath, const std::string& remoteFolder) {
    clsFile local;
    if (local.fOpen(localPath, clsFile::kRead) != 1)
        return false;
    if (!IsReadyForTransfer() || !bPassiveMode)
        return false;
    AnswersClearedOnReturn clear(*this);
    ctrlSocket.sendData("TYPE I");
    WaitAnswer(200);
    std::int32_t port = 0;
    if (!EnterPassiveMode(port))
        return false;

    // Leaves binary mode whichever way the upload ends.
    const auto backToText = [&]() {
        ctrlSocket.sendData("TYPE A");
        WaitAnswer(200);
    };
    if (!ctrlSocket.sendData("stor " + remoteFolder + "/" + FileNameOf(localPath)) ||
        !OpenPassiveDataConnection(port) || WaitTransferStart(nullptr) == 0) {
        sckData.FTPDisconnect();
        backToText();
        return false;
    }

    const std::string caption = GetMsg("strMsgUploadingFile") + "...";
    ShowProgress(caption);
    UpdateProgress(caption, localPath, 0, 0);
    WriteLog(GetMsg("strMsgUploadingFile") + ": " + localPath);

    const std::string uploadingTo = GetMsg("strMsgUploadingTO", "%h", serverHost_);
    const std::int64_t total = local.filesize() + 1;
    std::int64_t sent = 0;
    std::string block;
    for (;;) {
        const std::int64_t count = local.fRead(block, kUploadReadSize, sent);
        if (count <= 0)
            break;
        // A refused send means the server dropped the data connection; its
        // reply below tells the outcome.
        if (!sckData.sendBinaryData(block))
            break;
        sent += count;
        if (gPaused)
            PauseRun();
        if (gAbort) {
            sckData.FTPDisconnect();
            CloseProgress();
            return false;
        }
        const double percent = Percent(sent, total);
        UpdateProgress(uploadingTo, localPath, percent, percent);
    }
    sckData.FTPDisconnect();
    // A read that stopped short would leave a cut file on the server that
    // its 226 calls complete.
    const bool whole = sent >= local.filesize();
    const bool stored = WaitAnswer(226) == 226 && whole;
    ClearAnswers();
    CloseProgress();
    local.fClose();
    backToText();
    return stored;
}
