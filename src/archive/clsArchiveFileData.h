#pragma once
#include <cstdint>
#include <string>

#include "platform/DateTime.h"
#include "platform/FileTimes.h"

// One stored file as the archive writer records it; one index line is built
// from it.
class clsArchiveFileData : public FileTimeSlots {
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
};
