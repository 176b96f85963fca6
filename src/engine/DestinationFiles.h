#pragma once
#include <optional>
#include <string>

#include "archive/clsDskFile.h"
#include "ftp/clsFTPConnection.h"
#include "jobs/clsBackup.h"
#include "platform/UniqueFd.h"
#include "platform/Writeback.h"

// A job's destination as the runs see it, local folder or FTP server alike:
// files fetched from it into the staging folder (then decrypted for a
// protected job) and files stored in it (encrypted first for a protected job).
// One FTP connection serves every fetch and store of a run.
class DestinationFiles {
public:
    explicit DestinationFiles(const clsBackup& job);
    ~DestinationFiles();
    DestinationFiles(const DestinationFiles&) = delete;
    DestinationFiles& operator=(const DestinationFiles&) = delete;

    struct Fetched {
        enum Outcome { Done, Missing, Unreadable };
        Outcome outcome = Unreadable;
        std::string path;   // Done: the readable, decrypted bytes
        std::string reason; // Missing and Unreadable: what went wrong, as a phrase
    };
    // Where a fetched file may be read.
    enum class Placement {
        Staging,        // always a copy in the staging folder, under its own name
        InPlaceIfPlain, // a local file that needs no decryption is read where it lies
    };

    // Fetches the file `name` from the destination folder itself (volumes and
    // the index live there). Missing means the destination has no such file:
    // locally no file of that name; over FTP a 550 reply to the download that
    // the folder's listing does not contradict (in active mode, which cannot
    // download, the listing alone). Anything else that keeps the bytes from
    // us (no connection, a failed copy or download, a wrong password) is
    // Unreadable.
    Fetched Fetch(const std::string& name, Placement placement = Placement::Staging);

    struct Stored {
        bool done = false;
        int error = 0; // errno of a local failure (ENOSPC: the destination is full)
    };
    // Stores one file of the run's list: a plain copy mirrors the source tree
    // below the destination, volumes and the index go to the destination
    // folder itself (remote destinations are always flat). A protected job's
    // file is encrypted on a staging copy unless it already lives in staging.
    Stored Store(const clsDskFile& file);

    // Whether a local destination folder holds a file of that name; a remote
    // one is not asked (false).
    bool Holds(const std::string& name) const;

    // Logs in to an FTP destination if not yet connected; true for a local one.
    bool Connect();
    // Ends the FTP session; for a local destination puts what was stored on
    // the disk. False (and logged) when the disk reported a write error.
    bool Close();

private:
    Fetched FetchLocal(const std::string& name, const std::string& staged, Placement placement);
    Fetched FetchRemote(const std::string& name, const std::string& staged);
    std::optional<bool> ListedRemotely(const std::string& name);
    bool DroppedByServer() const;
    bool ReconnectOnce();
    Fetched Decrypted(const std::string& staged, const std::string& shownName);
    std::string DestinationFolderFor(const clsDskFile& file) const;
    Stored StoreLocal(const clsDskFile& file, const std::string& from);
    Stored StoreRemote(const clsDskFile& file, const std::string& from);

    const clsBackup& job_;
    clsFTPConnection ftp_;
    bool storedLocally_ = false;
    DiskFlusher flusher_; // local destinations: the stored files go to the disk
    std::string madeFolder_; // the local folder the last file went to
    UniqueFd madeFolderFd_;  // and that folder, open
};

// Connects with the job's FTP parameters; true when logged in.
bool ConnectToDestination(clsFTPConnection& connection, const clsBackup& job);
