// One FTP transfer through Tidevault's client, for bench/ftp_bench.py:
//
//   ftp_transfer put    HOST PORT USER PASS LOCALFILE REMOTEDIR
//   ftp_transfer get    HOST PORT USER PASS REMOTEFILE LOCALFILE
//   ftp_transfer putdir HOST PORT USER PASS LOCALDIR  REMOTEDIR
//
// Passive mode, one login per call. The activity log goes to the program
// folder ($TIDEVAULT_HOME, else a fresh temporary folder). Exit status 0 when
// every transfer succeeded.
#include "ftp/clsFTPConnection.h"
#include "i18n/Catalogue.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: ftp_transfer put|get|putdir HOST PORT USER PASS FROM TO\n");
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

} // namespace

int main(int argc, char** argv) {
    if (argc != 8)
        return Usage();
    const std::string command = argv[1];
    const std::string host = argv[2];
    const int port = std::atoi(argv[3]);
    const std::string from = argv[6];
    const std::string to = argv[7];
    if (command != "put" && command != "get" && command != "putdir")
        return Usage();

    ChooseProgramFolder();
    LoadMessageCatalogue("");
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
