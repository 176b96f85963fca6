#pragma once
#include <set>
#include <string>

#include "archive/clsDskFile.h"
#include "jobs/clsBackup.h"

// Results of the per-list delivery operations.
inline constexpr int kDeliverOk = 1;
inline constexpr int kDeliverFailed = 2;

// Packs the listed files into volumes in the staging folder and replaces the
// list by the volumes followed by the index. `takenVolumes` holds the volume
// names an earlier session still needs: an incremental archive never takes
// one of them. `diskFull` is set when the staging disk ran out of space.
int CreateBackupArchive(clsBackup& job, FileList& list, const std::set<std::string>& takenVolumes,
                        bool* diskFull = nullptr);

// The folder a file goes to below the job's destination.
std::string DestinationFolderFor(const clsBackup& job, const clsDskFile& file);

// Copies one file into the destination tree under a temporary name and
// renames it into place when complete, keeping its times and permissions.
// `deliverFrom` replaces the file's own location as the source (a staging
// copy); `error` receives the errno of a failure.
int CopyToDestination(const clsBackup& job, const clsDskFile& file,
                      const std::string& deliverFrom = std::string(), int* error = nullptr);

class clsFTPConnection;
// Stores one file in the FTP destination folder; the connection is logged in.
int UploadToDestination(clsFTPConnection& connection, const clsBackup& job, const clsDskFile& file,
                        const std::string& deliverFrom = std::string());

// Connects with the job's FTP parameters; true when logged in.
bool ConnectToDestination(clsFTPConnection& connection, const clsBackup& job);

void ClearTempFolder();
