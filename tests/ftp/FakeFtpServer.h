#pragma once
#include "ftp/FtpServers.h"
#include "support/TempHome.h"

#include <map>
#include <vector>

using Strings = std::vector<std::string>;
using Blobs = std::map<std::string, std::string>;

// The scripted FTP server of tests/ftp/fake_ftp_server.py (its script
// language is described there), serving one session on 127.0.0.1 while the
// object lives. Blobs named in the script are its files to send.
class FakeFtpServer {
public:
    // Port 0: any free port; Port() is 0 when the server did not start.
    explicit FakeFtpServer(const std::string& script, Blobs blobs = {}, int port = 0);

    int Port() const { return server_->Port(); }
    const ::Blobs& Blobs() const { return blobs_; }
    // The script has reached a @signal.
    bool Signalled() const;
    std::string Uploaded() const;
    // Once the client has hung up: how the session strayed from the script.
    Strings Problems();

private:
    TempHome folder_;
    ::Blobs blobs_;
    std::unique_ptr<ServerScript> server_;
};

// A loopback port with nothing listening on it (bound once, then released).
int ClosedLoopbackPort();
