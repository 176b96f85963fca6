#include "ftp/FtpServers.h"
#include "platform/FileSystem.h"

#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

static std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

ServerScript::ServerScript(const std::string& arguments) {
    // Debian's python3-pyftpdlib is installed for the system interpreter,
    // which need not be the first python3 on the PATH.
    const std::string python =
        ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    pipe_ = ::popen(
        ("exec " + python + " " + Quoted(TIDEVAULT_FTP_TEST_DIR) + "/" + arguments).c_str(), "re");
    char line[4096] = {};
    if (pipe_ != nullptr && std::fgets(line, sizeof line, pipe_) != nullptr &&
        std::sscanf(line, "READY %d %d", &port_, &group_) != 2)
        why_ = line;
    if (why_.empty() && port_ == 0)
        why_ = "cannot run " + python;
}

ServerScript::~ServerScript() {
    if (group_ > 0)
        ::kill(-group_, SIGTERM);
    if (pipe_ != nullptr)
        ::pclose(pipe_);
}

std::unique_ptr<ServerScript> StartServer(ServerKind kind, const std::string& root) {
    return std::make_unique<ServerScript>(
        std::string("ftp_server.py ") +
        (kind == ServerKind::Pyftpdlib ? "pyftpdlib " : "pure-ftpd ") + Quoted(root) + " alice " +
        Quoted(kPassword));
}

FakeFtpServer::FakeFtpServer(const std::string& script, ::Blobs blobs, int port)
    : blobs_(std::move(blobs)) {
    folder_.Write("script", script);
    for (const auto& [name, bytes] : blobs_)
        if (script.find(name) != std::string::npos)
            folder_.Write("blob-" + name, bytes);
    server_ = std::make_unique<ServerScript>("fake_ftp_server.py " + Quoted(folder_.Path()) + " " +
                                             std::to_string(port));
}

Strings FakeFtpServer::Problems() {
    Strings problems;
    char line[4096];
    while (server_->Output() != nullptr && std::fgets(line, sizeof line, server_->Output())) {
        problems.emplace_back(line, std::strlen(line) - 1);
        if (problems.back() == "END")
            return Strings(problems.begin(), problems.end() - 1);
    }
    problems.push_back("the fake server ended without its report");
    return problems;
}

int ClosedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(fd);
    return ntohs(a.sin_port);
}

static std::string BlobOf(const Blobs& blobs, const std::string& bytes) {
    for (const auto& [name, blob] : blobs)
        if (blob == bytes)
            return name;
    return "other";
}

std::string FtpTest::Do(clsFTPConnection& ftp, int port, const Blobs& blobs, const std::string& ops,
                        FakeFtpServer* fake) {
    std::string outcomes;
    for (std::size_t pos = 0, end = 0; end != std::string::npos; pos = end + 1) {
        end = ops.find('|', pos);
        const std::string op = ops.substr(pos, end - pos);
        const std::size_t blank = op.find(' ');
        const std::string verb = op.substr(0, blank);
        std::string arg = blank == std::string::npos ? "" : op.substr(blank + 1);
        std::string out;
        if (verb == "login" || verb == "active") {
            const std::string account = arg.empty() ? "alice pw" : arg;
            const std::string user = account.substr(0, account.find(' '));
            const std::string password = account.substr(std::min(user.size() + 1, account.size()));
            ftp.SetupConnection("127.0.0.1", port, user == "-" ? "" : user, password,
                                verb == "login");
            out = std::to_string(ftp.EstablishConnection());
        } else if (verb == "get") {
            const std::size_t to = arg.find('>');
            const std::string local =
                to == std::string::npos ? home.File("got") : arg.substr(to + 1);
            out = std::to_string(ftp.GetFile(arg.substr(0, to), local)) + " ";
            struct stat st {};
            out += ::lstat(local.c_str(), &st) != 0 ? "-"
                   : !S_ISREG(st.st_mode)           ? "device"
                                                    : BlobOf(blobs, ReadTestFile(local));
        } else if (verb == "local") {
            WriteTestFile(home.File("got"), blobs.at(arg));
        } else if (verb == "put") {
            const std::string name = arg.substr(arg.rfind('/') + 1);
            WriteTestFile(home.File(name), blobs.at(name));
            out = std::to_string(ftp.StoreFile(home.File(name), arg.substr(0, arg.rfind('/'))));
        } else if (verb == "list") {
            const std::optional<std::vector<clsFTPFile>> files = ftp.GetFileList();
            Strings names;
            for (const clsFTPFile& f : files.value_or(std::vector<clsFTPFile>{}))
                names.push_back(f.strName + (f.bDir ? "/" : ""));
            std::sort(names.begin(), names.end());
            for (std::size_t i = 0; i < names.size(); ++i)
                out += (i > 0 ? "," : "") + names[i];
            out = files ? out : "none";
        } else if (verb == "cwd" || verb == "rmd") {
            out = std::to_string(verb == "cwd" ? ftp.ChangeCurrentDirectory(arg)
                                               : ftp.DeleteFTPDirectory(arg));
        } else if (verb == "ren") {
            out = std::to_string(
                ftp.Rename(arg.substr(0, arg.find('>')), arg.substr(arg.find('>') + 1)));
        } else if (verb == "mkd") {
            out = std::to_string(ftp.CreateFTPDirectory(arg)) + " " + arg;
        } else if (verb == "pwd" || verb == "code" || verb == "state") {
            out = verb == "pwd"    ? ftp.GetRootDir()
                  : verb == "code" ? std::to_string(ftp.LastReplyCode())
                                   : std::to_string(ftp.connectionState());
        } else if (verb == "uploaded" && fake != nullptr) {
            out = fake->Uploaded().empty() ? "-" : BlobOf(blobs, fake->Uploaded());
        } else {
            ADD_FAILURE() << "unknown operation " << op;
        }
        outcomes += (pos > 0 ? "|" : "") + out;
    }
    return outcomes;
}

std::string BinaryContent(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}
