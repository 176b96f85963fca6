#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jobs/clsBackup.h"

// backups.ini: section [Backups] lists the job names, one section per job
// holds its keys. A missing file means no jobs.

// Appends the file's jobs to `jobs`. False, with a description of the first
// damaged line in `error`, when a value cannot be read; `jobs` is then left
// as it was.
bool LoadBackups(const std::string& iniFile, std::vector<std::shared_ptr<clsBackup>>& jobs,
                 std::string& error);
// Rewrites the whole file in one atomic replace; the previous version is kept
// as iniFile + ".bak".
bool SaveBackups(const std::string& iniFile, const std::vector<std::shared_ptr<clsBackup>>& jobs);

// A job's result as the job list file keeps it.
struct JobResult {
    std::int32_t status = 0;
    DateTime lastOK;
    bool operator==(const JobResult&) const = default;
};
using JobResults = std::map<std::string, JobResult>;

// Reads iniFile again and writes back the state and last success of every
// job whose result differs from `written`, every other line as it stands;
// `written` then holds them. Jobs whose result could not be written (the
// file lost their section, or cannot be read or written) are named in
// `notSaved`.
bool SaveJobResults(const std::string& iniFile, const std::vector<std::shared_ptr<clsBackup>>& jobs,
                    JobResults& written, std::vector<std::string>& notSaved);

// How SaveBackups() writes gBackups to gIniFile.
enum class JobListSaving {
    // This process edits the jobs (the desktop): the file is rewritten from memory.
    Whole,
    // The jobs are edited by hand while this process runs them
    // (tidevault-cli): only the results of runs are written back, into the
    // file as it is now.
    ResultsOnly,
};
void SetJobListSaving(JobListSaving how);

// The same on gIniFile and gBackups. LoadBackups remembers the file as read.
bool LoadBackups(std::string& error);
bool SaveBackups();

enum class JobListReload { Unchanged, Loaded, Damaged };
// When gIniFile has changed since this process last read or wrote it, loads
// it in place of gBackups. A file that cannot be loaded is left as it is and
// gBackups kept (`error` says why). Each change is seen once.
JobListReload ReloadBackupsIfChanged(std::string& error);

// The file text SaveBackups writes.
std::string SerializeBackups(const std::vector<std::shared_ptr<clsBackup>>& jobs);

// Byte values in decimal joined with ","; "abc" gives "97,98,99".
std::string EncodeCharCodes(const std::string& text);
// The reverse; false when a part is not a byte value.
bool DecodeCharCodes(const std::string& codes, std::string& text);

// The reversible transformation that keeps passwords from a casual glance.
std::string TransformPassword(const std::string& text);
