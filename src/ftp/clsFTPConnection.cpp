#include "ftp/clsFTPConnection.h"

#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "core/host.h"
#include "i18n/Catalogue.h"
#include "platform/IniFile.h"
#include "platform/TextConvert.h"
#include "platform/TextUtil.h"

#include <algorithm>
#include <thread>

// Control connection: connect, login, the reply reader and the commands that
// only need a reply. Transfers and listings are in clsFTPConnectionTransfer.

namespace {

using Clock = std::chrono::steady_clock;

// A flood of reply lines must not fill the memory; replies past this count
// still end waits, their lines are only not kept.
constexpr std::size_t kAnswersKept = 1000;
// A reply still not complete at this size is no reply any more.
constexpr std::size_t kReplyByteCap = 1 << 20;

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
std::string QuotedPath(const std::string& line) {
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

// 2xx to 5xx: the server's last word on a command. 1xx only announces more.
bool IsFinalCode(std::int32_t code) {
    return code >= 200 && code <= 599;
}

} // namespace

long long clsFTPConnection::MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

clsFTPConnection::clsFTPConnection() = default;

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
    if (connectionState_ != kDisconnected)
        return false;
    reader_.Clear();
    waiting_.clear();
    if (!ctrlSocket.FTPConnect(serverHost_, serverPort_))
        return false;
    for (int attempt = 0; attempt < kGreetingAttempts; ++attempt) {
        if (WaitAnswer(220) == 220)
            break;
        WriteLog("Couldn't read servers welcome message!");
        // A server that answered something else has said its word: asking
        // again would only wait out the time-out nine more times.
        if (gAbort || lastReplyCode_ != 0)
            break;
        CurrentHost().Yield();
    }
    if (gAbort) {
        ctrlSocket.FTPDisconnect();
        return false;
    }
    // Without a greeting the login that follows fails or succeeds on its own.
    ClearAnswers();
    connectionState_ = kConnected;
    return true;
}

bool clsFTPConnection::Login(const std::string& userName, const std::string& password) {
    userName_ = userName;
    userPassword_ = password;
    if (connectionState_ != kConnected)
        return false;
    AnswersClearedOnReturn clear{*this};
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
    connectionState_ = kLoggedIn;
    return true;
}

bool clsFTPConnection::Disconnect() {
    if (connectionState_ != kConnected && connectionState_ != kLoggedIn)
        return false;
    ctrlSocket.sendData("QUIT");
    sckData.FTPDisconnect();
    ctrlSocket.FTPDisconnect();
    reader_.Clear();
    waiting_.clear();
    connectionState_ = kDisconnected;
    return true;
}

void clsFTPConnection::LogReply(const FtpReply& reply) {
    std::string text;
    for (const std::string& line : reply.lines) {
        if (Answers.size() < kAnswersKept)
            Answers.push_back({line, ReplyCodeOf(line)});
        text += (text.empty() ? "" : "\r\n") + line;
    }
    if (!TrimBlanks(text).empty())
        WriteLog("REP: " + PrintableServerText(text));
}

std::optional<FtpReply> clsFTPConnection::ReadReply(Clock::time_point& start,
                                                    std::int32_t timeoutMs) {
    if (!waiting_.empty()) {
        FtpReply reply = std::move(waiting_.front());
        waiting_.pop_front();
        return reply;
    }
    bool restarted = false;
    std::string chunk;
    for (;;) {
        if (std::optional<FtpReply> reply = reader_.Next()) {
            LogReply(*reply);
            return reply;
        }
        // Long greetings get the full time once; restarting on every chunk
        // would let a server that keeps opening replies hold us.
        if (!restarted && reader_.OpensMultiLineReply()) {
            start = Clock::now();
            restarted = true;
        }
        if (gAbort || ctrlSocket.IsFinished() || MillisecondsSince(start) > timeoutMs ||
            reader_.Pending().size() > kReplyByteCap)
            break;
        if (ctrlSocket.ReceiveData(chunk) > 0)
            reader_.Add(chunk);
        CurrentHost().Yield();
    }
    // What came of an unfinished reply is shown, then dropped: a line end
    // that turns up later must not complete a reply nobody waits for.
    if (!TrimBlanks(reader_.Pending()).empty())
        WriteLog("REP: " + PrintableServerText(TrimBlanks(reader_.Pending())));
    reader_.Clear();
    return std::nullopt;
}

void clsFTPConnection::TakeRepliesAlreadyIn() {
    // Bounded, so a server that never stops talking cannot hold us here.
    std::string chunk;
    for (int reads = 0; reads < 64 && ctrlSocket.IsOpen() && ctrlSocket.ReceiveData(chunk, 0) > 0;
         ++reads)
        reader_.Add(chunk);
    while (std::optional<FtpReply> reply = reader_.Next()) {
        LogReply(*reply);
        waiting_.push_back(std::move(*reply));
    }
}

std::int32_t clsFTPConnection::WaitAnswer(std::int32_t expected, std::string* replyLine,
                                          std::int32_t timeoutMs) {
    return WaitAnswerFor({expected}, replyLine, timeoutMs);
}

std::int32_t clsFTPConnection::WaitAnswerFor(std::initializer_list<std::int32_t> expected,
                                             std::string* replyLine, std::int32_t timeoutMs) {
    Clock::time_point start = Clock::now();
    lastReplyCode_ = 0;
    for (;;) {
        const std::optional<FtpReply> reply = ReadReply(start, timeoutMs);
        if (!reply)
            return 0;
        const bool wanted =
            std::find(expected.begin(), expected.end(), reply->code) != expected.end();
        if (!wanted && !IsFinalCode(reply->code))
            continue;
        lastReplyCode_ = reply->code;
        if (replyLine != nullptr)
            *replyLine = reply->lines.back();
        return wanted ? reply->code : 0;
    }
}

void clsFTPConnection::ClearAnswers() {
    if (ctrlSocket.IsOpen())
        TakeRepliesAlreadyIn();
    waiting_.clear();
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
    AnswersClearedOnReturn clear{*this};
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

bool clsFTPConnection::Rename(const std::string& from, const std::string& to) {
    // A refused RNFR ends it: an RNTO on its own would only be refused too.
    return SimpleCommand("RNFR " + ReplaceAll(from, "//", "/"), 350) == 350 &&
           SimpleCommand("RNTO " + ReplaceAll(to, "//", "/"), 250) == 250;
}

std::string clsFTPConnection::GetRootDir() {
    if (!IsReadyForTransfer())
        return std::string();
    AnswersClearedOnReturn clear{*this};
    std::string line;
    if (!ctrlSocket.sendData("PWD") || WaitAnswer(257, &line) != 257)
        return std::string();
    return QuotedPath(line);
}

std::int32_t clsFTPConnection::PasvPort(const std::string& replyLine) {
    if (ReplyCodeOf(replyLine) != 227) {
        WriteLog("Server(" + serverHost_ + ")->Tidevault:" + PrintableServerText(replyLine));
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
            if (connected || gAbort || MillisecondsSince(start) > kPassiveConnectWindowMs)
                break;
            // A server that refused the command may have closed its port:
            // its reply, not the end of the window, ends the attempts.
            TakeRepliesAlreadyIn();
            if (std::any_of(waiting_.begin(), waiting_.end(),
                            [](const FtpReply& r) { return IsFinalCode(r.code); }))
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    if (!connected && !gAbort)
        WriteLog(GetMsg("strMsgFailCreateDC"));
    return connected;
}

bool clsFTPConnection::StartPassiveTransfer(const std::string& command, std::int32_t port,
                                            std::string* replyLine) {
    if (!ctrlSocket.sendData(command))
        return false;
    const bool connected = OpenPassiveDataConnection(port);
    // A refusal that came while connecting is read: it ends the wait at once.
    if ((connected || !waiting_.empty()) && WaitTransferStart(replyLine) != 0 && connected)
        return true;
    sckData.FTPDisconnect();
    return false;
}
