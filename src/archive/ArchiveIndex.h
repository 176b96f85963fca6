#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ArchiveFormat.h"
#include "archive/clsArchiveFileData.h"
#include "platform/DateTime.h"
#include "platform/FileTimes.h"

// The archive index: one text line per stored file, fields "key=value"
// separated by "|", ended by CR LF. It is the only directory of an archive.

// One index record read back.
class clsRestoreFileData : public FileTimeSlots {
public:
    std::string arcStart;
    std::string arcEnd;
    std::string fname;
    std::int64_t size = 0;
    std::string crc; // 8 hex digits
    std::int64_t soffs = 0;
    std::int64_t dendoffset = 0;
    std::int64_t recsize = 0;
    std::int64_t Attrib = 0;
    DateTime dSession;
};

// False when the text would break an index line ("|", CR or LF in it): a
// name like that would be read back as a different file.
bool FitsInIndexLine(std::string_view text);

// The complete line for a stored file, CR LF included.
std::string FormatIndexLine(const clsArchiveFileData& rec, const DateTime& session,
                            std::int64_t recSize);

clsRestoreFileData ParseIndexRecord(std::string_view line);

// 14 digits "yyyyMMddHHmmss"; anything else (or an impossible date) gives
// the zero date.
DateTime ParseSessionDate(std::string_view text);

// "high/low" into two signed 32-bit halves; without "/" both stay as they
// were and the result is false.
bool SplitTimePair(std::string_view text, std::int32_t& high, std::int32_t& low);

// What reading an index file found wrong with it.
struct IndexReport {
    int readError = 0;                // errno when the file could not be read
    std::size_t damagedLines = 0;     // lines left out: no usable record, or cut short
    std::size_t firstDamagedLine = 0; // counted from 1
    std::string firstDamage;          // why that line was left out, a catalogue text
};

// Replaces `records` by the usable records of the index file, in file order.
// Every record is checked (RecordDamage) before it is taken: a damaged line
// is left out and counted in `report`, so no reader of an index ever sees an
// impossible record. False when the file cannot be read, or when it has lines
// but not one usable record (then it is no index at all).
bool LoadIndexRecords(const std::string& path, std::vector<clsRestoreFileData>& records,
                      IndexReport* report = nullptr);
