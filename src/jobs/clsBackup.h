#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jobs/clsBackupFile.h"
#include "jobs/clsSchedule.h"
#include "jobs/clsTidevault.h"
#include "platform/DateTime.h"

// Result of a job's last run.
enum enumBackupStatus : std::int32_t {
    kStatusNeverRun = 0,
    kStatusFinished = 1,
    kStatusFailed = 2, // also: started and not finished
    kStatusAborted = 3,
};

// One backup job. A plain value holder: the rules that give the fields
// meaning live with the code that reads them.
class clsBackup {
public:
    std::string IncludeMask;
    std::string ExcludeMask;
    std::int64_t ttlsize = 0;
    std::string sName;
    DateTime nextStart;
    bool bZipped = false;
    std::string sDestinationDir;
    bool bIncremental = false;
    std::vector<clsBackupFile> Files;
    DateTime CreationDate;
    std::optional<clsTidevault> objDestination;
    std::int32_t splitSize = 0;
    bool archived = false;
    std::int32_t enumStatus = kStatusNeverRun;
    bool destFTP = false;
    DateTime lastOK;
    std::optional<clsSchedule> Schedule;
    std::string password;
    bool Protected = false;

    // Appends the entry with Index = number of entries before it.
    clsBackupFile& AddFile(clsBackupFile entry);
    // Removes every entry whose trimmed path equals `path` trimmed, ignoring case.
    void RemoveFile(const std::string& path);
    double GetTotalSize() const;
    void ResetFiles() { Files.clear(); }
};

// Every job, in job-list order. Shared pointers so that a running job stays
// alive even if the user deletes it from the list meanwhile.
extern std::vector<std::shared_ptr<clsBackup>> gBackups;

std::shared_ptr<clsBackup> FindBackup(const std::string& name);
