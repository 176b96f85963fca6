#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/DateTime.h"
#include "platform/FileTimes.h"

// One file found on disk or produced by a run (a volume, the index).
class clsDskFile : public FileTimeSlots {
public:
    std::string filename;
    std::string path; // folder text ending in "/"; full name = path + filename
    std::int64_t dSize = 0;
    std::uint32_t dAttrib = 0;
    std::string linkTarget; // a symbolic link's target text (IsLinkAttribute(dAttrib))
    DateTime dDate;
    bool backupSuccess = false;

    std::string FullName() const { return path + filename; }
};

// A run's working list of files.
using FileList = std::vector<clsDskFile>;
