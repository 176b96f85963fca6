#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/DateTime.h"
#include "platform/FileTimes.h"

// One file found on disk or produced by a run (a volume, the index).
class clsDskFile {
public:
    std::string filename;
    std::string path; // folder text ending in "/"; full name = path + filename
    std::int64_t dSize = 0;
    std::uint32_t dAttrib = 0;
    DateTime dDate;
    bool backupSuccess = false;

    void tLastWriteTimeSet(std::uint32_t high, std::uint32_t low) { lastWrite_ = {high, low}; }
    void tLastAccessTimeSet(std::uint32_t high, std::uint32_t low) { lastAccess_ = {high, low}; }
    void tCreationTimeSet(std::uint32_t high, std::uint32_t low) { creation_ = {high, low}; }
    const FileTimeHalves& tLastWriteTimeGet() const { return lastWrite_; }
    const FileTimeHalves& tLastAccessTimeGet() const { return lastAccess_; }
    const FileTimeHalves& tCreationTimeGet() const { return creation_; }

    std::string FullName() const { return path + filename; }

private:
    FileTimeHalves lastWrite_;
    FileTimeHalves lastAccess_;
    FileTimeHalves creation_;
};

// A run's working list of files.
using FileList = std::vector<clsDskFile>;
