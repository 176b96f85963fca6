// One FTP transfer through Tidevault's client, for bench/ftp_bench.py:
//
//   ftp_transfer put    HOST PORT USER PASS LOCALFILE REMOTEDIR
//   ftp_transfer get    HOST PORT USER PASS REMOTEFILE LOCALFILE
//   ftp_transfer putdir HOST PORT USER PASS LOCALDIR  REMOTEDIR
//   ftp_transfer refused HOST PORT USER PASS FOLDER
//
// Passive mode, one login per call. The activity log goes to the program
// folder ($TIDEVAULT_HOME, else a fresh temporary folder). Exit status 0 when
// every transfer succeeded.
//
// "refused" is for a server that refuses: it logs in with a wrong password
// (PASS followed by "-wrong"), then with PASS on the same connection, then
// asks to enter and to create FOLDER. It prints how long each refusal took
// to come back, and succeeds when all three were refused.
#include "ftp/clsFTPConnection.h"
#include "i18n/Catalogue.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: ftp_transfer put|get|putdir|refused HOST PORT USER PASS FROM [TO]\n");
    return 2;
}

void ChooseProgramFolder() {
    const char* home = std::getenv("TIDEVAULT_HOME");
    if (home != nullptr && *home != '\0')
        return;
    char pattern[] = "/tmp/ftp-transfer-XXXXXX";
    if (::mkdtemp(pattern) != nullptr)
        SetProgramFolder(pattern);
}

template <typename F> double MillisecondsOf(F&& call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

int Refusals(const std::string& host, int port, const std::string& user,
             const std::string& password, std::string folder) {
    clsFTPConnection ftp;
    if (!ftp.Connect(host, port))
        return 1;
    bool refused = true;
    std::printf("wrong password %.3f ms\n",
                MillisecondsOf([&] { refused = !ftp.Login(user, password + "-wrong"); }));
    if (!ftp.Login(user, password))
        return 1;
    std::printf("CWD refused %.3f ms\n",
                MillisecondsOf([&] { refused = !ftp.ChangeCurrentDirectory(folder) && refused; }));
    std::printf("MKD refused %.3f ms\n",
                MillisecondsOf([&] { refused = !ftp.CreateFTPDirectory(folder) && refused; }));
    ftp.Disconnect();
    return refused ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (argc != (command == "refused" ? 7 : 8) ||
        (command != "put" && command != "get" && command != "putdir" && command != "refused"))
        return Usage();
    const std::string host = argv[2];
    const int port = std::atoi(argv[3]);
    const std::string from = argv[6];
    const std::string to = argc > 7 ? argv[7] : "";

    ChooseProgramFolder();
    LoadMessageCatalogue("");
    if (command == "refused")
        return Refusals(host, port, argv[4], argv[5], from);
    clsFTPConnection ftp;
    ftp.SetupConnection(host, port, argv[4], argv[5], true);
    if (!ftp.EstablishConnection()) {
        std::fprintf(stderr, "ftp_transfer: cannot log in to %s:%d\n", host.c_str(), port);
        return 1;
    }
    bool ok = true;
    if (command == "get") {
        ok = ftp.GetFile(from, to) == clsFTPConnection::kGetFileDone;
    } else if (command == "put") {
        ok = ftp.StoreFile(from, to);
    } else {
        std::vector<std::string> names = ListFileNames(from);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names)
            ok = ftp.StoreFile(JoinPath(from, name), to) && ok;
    }
    ftp.Disconnect();
    if (!ok)
        std::fprintf(stderr, "ftp_transfer: %s failed\n", command.c_str());
    return ok ? 0 : 1;
}
