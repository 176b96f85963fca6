#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// Two upper-case hex digits per byte, first byte first.
std::string HexString(const std::string& bytes);

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

// Replaces `records` by the records of the index file, in file order. False
// when the file cannot be read (the caller decides what that means).
bool LoadIndexRecords(const std::string& path, std::vector<clsRestoreFileData>& records);
