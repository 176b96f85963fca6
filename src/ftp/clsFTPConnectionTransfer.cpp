#include "archive/clsFile.h"
#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "core/Progress.h"
#include "core/host.h"
#include "ftp/clsFTPConnection.h"
#include "i18n/Catalogue.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/TextConvert.h"
#include "platform/TextUtil.h"

#include <sys/stat.h>

// Downloads, uploads and listings of clsFTPConnection.

namespace {

using Clock = std::chrono::steady_clock;

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

double Percent(std::int64_t part, std::int64_t whole) {
    return whole > 0 ? static_cast<double>(part) * 100.0 / static_cast<double>(whole) : 0.0;
}

} // namespace

bool clsFTPConnection::DataHasEnded(Clock::time_point lastData) {
    // A server ends a transfer by closing the data connection. A quiet
    // spell alone is no end: on a slow link it would cut a listing short
    // without anyone noticing, or fail a download that was still coming.
    if (sckData.IsFinished() || MillisecondsSince(lastData) > kDataStallMs)
        return true;
    CurrentHost().Yield();
    return false;
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

    AnswersClearedOnReturn clear{*this};
    bool progressShown = false;
    const auto fail = [&](bool logged) {
        sckData.FTPDisconnect();
        local.fClose();
        if (created && FileExists(localPath))
            RemoveFile(localPath);
        if (!logged && !gAbort)
            WriteLog(GetMsg("strMsgDownloadFailed", "%d", remoteName));
        if (progressShown)
            CloseProgress();
        return kGetFileFailed;
    };

    std::int32_t port = 0;
    if (!EnterPassiveMode(port))
        return fail(true);
    ctrlSocket.sendData("TYPE I");
    WaitAnswer(200);
    std::string reply;
    if (!StartPassiveTransfer("RETR " + remoteName, port, &reply))
        return fail(false);

    const std::string caption = GetMsg("strMsgDownloadingFile") + "...";
    ShowProgress(caption);
    progressShown = true;
    UpdateProgress(caption, remoteName, 0, 0);
    WriteLog(GetMsg("strMsgDownloadingFile") + ": " + remoteName);

    // The data comes until the server closes the connection; only then is
    // its 226 worth waiting for.
    if (!ReceiveToFile(local, remoteName, AnnouncedSize(reply)))
        return fail(true);
    sckData.FTPDisconnect();
    // A file that cannot be closed cleanly is not a downloaded file.
    if (WaitAnswer(226) != 226 || !local.fClose())
        return fail(false);
    ClearAnswers();
    WriteLog(GetMsg("strMsgDownloadOK", "%f", remoteName));
    CloseProgress();
    ctrlSocket.sendData("TYPE A");
    WaitAnswer(200);
    return kGetFileDone;
}

bool clsFTPConnection::ReceiveToFile(clsFile& local, const std::string& remoteName,
                                     std::int64_t expected) {
    // Each receive step goes to the file at once, so memory does not grow
    // with the size of the download.
    const std::string downloadingFrom = GetMsg("strMsgDownloadingFrom", "%h", serverHost_);
    std::int64_t received = 0;
    std::string data;
    Clock::time_point lastData = Clock::now();
    for (;;) {
        const std::int64_t count = sckData.ReceiveData(data);
        if (gAbort)
            return false;
        if (count <= 0) {
            if (DataHasEnded(lastData))
                return true;
            continue;
        }
        lastData = Clock::now();
        if (local.fWrite(data, count, received) < count) {
            WriteLog(GetMsg("strMsgErrorWritingFile"));
            return false;
        }
        received += count;
        if (gPaused)
            PauseRun();
        const double percent = Percent(received, expected);
        UpdateProgress(downloadingFrom, remoteName, percent, percent);
        CurrentHost().Yield();
    }
}

bool clsFTPConnection::StoreFile(const std::string& localPath, const std::string& remoteFolder) {
    clsFile local;
    if (local.fOpen(localPath, clsFile::kRead) != 1)
        return false;
    if (!IsReadyForTransfer() || !bPassiveMode)
        return false;
    AnswersClearedOnReturn clear{*this};
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
    if (!StartPassiveTransfer("stor " + remoteFolder + "/" + FileNameOf(localPath), port,
                              nullptr)) {
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
        if (gAbort)
            break;
        const double percent = Percent(sent, total);
        UpdateProgress(uploadingTo, localPath, percent, percent);
        CurrentHost().Yield();
    }
    sckData.FTPDisconnect();
    if (gAbort) {
        CloseProgress();
        return false;
    }
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
            if (gAbort)
                return false;
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
    AnswersClearedOnReturn clear{*this};
    std::optional<std::vector<clsFTPFile>> files =
        bPassiveMode ? GetFileListPassive() : GetFileListActive();
    sckData.FTPDisconnect();
    return files;
}

// The listing is complete only when the data connection ended cleanly and
// the server confirmed it: a cut listing could otherwise look like "no index".
std::optional<std::vector<clsFTPFile>> clsFTPConnection::FinishListing() {
    std::vector<clsFTPFile> files;
    const bool complete = ReadListing(files);
    sckData.FTPDisconnect();
    if (!complete || WaitAnswer(226) != 226)
        return std::nullopt;
    return files;
}

std::optional<std::vector<clsFTPFile>> clsFTPConnection::GetFileListPassive() {
    std::int32_t port = 0;
    if (!EnterPassiveMode(port) || !StartPassiveTransfer("LIST", port, nullptr))
        return std::nullopt;
    return FinishListing();
}

std::optional<std::vector<clsFTPFile>> clsFTPConnection::GetFileListActive() {
    // The address the server reached us at is the one it can connect back to.
    const std::string address = ctrlSocket.LocalAddress();
    // Listen before PORT: pyftpdlib connects as soon as it reads PORT, before
    // it answers, and would find nobody listening after LIST.
    sckData.ListenForConnection(kActiveDataPort, address);
    ctrlSocket.sendData("PORT " + ReplaceAll(address, ".", ",") + ",55,55");
    if (WaitAnswer(200) != 200) {
        sckData.FTPDisconnect();
        if (!gAbort)
            CurrentHost().MessageBox("Port command failed!", MsgButtons::Ok, MsgIcon::Critical);
        return std::nullopt;
    }
    // The go-ahead first: a refused listing then costs no accept window.
    // The server's connection waits in the listener's queue meanwhile.
    if (!ctrlSocket.sendData("LIST") || WaitTransferStart(nullptr) == 0)
        return std::nullopt;
    sckData.WaitForConnection(kActiveDataPort, address, ctrlSocket.PeerAddress());
    // A server that never connected gives no listing, not an empty one.
    if (!sckData.IsOpen())
        return std::nullopt;
    return FinishListing();
}
