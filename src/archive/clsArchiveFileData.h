#pragma once
#include <cstdint>
#include <string>

#include "platform/DateTime.h"
#include "platform/FileTimes.h"

// One stored file as the archive writer records it; one index line is built
// from it.
class clsArchiveFileData {
public:
    std::int64_t dSize = 0;
    std::string sFileName;     // full path of the source file
    std::string crc32;         // the 4 checksum bytes (XorBlockChecksum)
    std::string sArchiveStart; // volume (without ".darc") holding the first block
    std::string sArchiveEnd;   // volume holding the trailer block
    std::int64_t dStartOffset = 0;
    std::int64_t dEndOffset = 0; // just after the trailer block, in sArchiveEnd
    DateTime AddDate;
    std::int64_t dAttributes = 0;

    void tLastWriteTimeSet(std::uint32_t high, std::uint32_t low) { lastWrite_ = {high, low}; }
    void tLastAccessTimeSet(std::uint32_t high, std::uint32_t low) { lastAccess_ = {high, low}; }
    void tCreationTimeSet(std::uint32_t high, std::uint32_t low) { creation_ = {high, low}; }
    const FileTimeHalves& tLastWriteTimeGet() const { return lastWrite_; }
    const FileTimeHalves& tLastAccessTimeGet() const { return lastAccess_; }
    const FileTimeHalves& tCreationTimeGet() const { return creation_; }

private:
    FileTimeHalves lastWrite_;
    FileTimeHalves lastAccess_;
    FileTimeHalves creation_;
};
