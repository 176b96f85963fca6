#pragma once
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

// The same on gIniFile and gBackups.
bool LoadBackups(std::string& error);
bool SaveBackups();

// The file text SaveBackups writes.
std::string SerializeBackups(const std::vector<std::shared_ptr<clsBackup>>& jobs);

// Byte values in decimal joined with ","; "abc" gives "97,98,99".
std::string EncodeCharCodes(const std::string& text);
// The reverse; false when a part is not a byte value.
bool DecodeCharCodes(const std::string& codes, std::string& text);

// The reversible transformation that keeps passwords from a casual glance.
std::string TransformPassword(const std::string& text);
