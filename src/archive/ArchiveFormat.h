#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "archive/clsArchiveFileData.h"

// The volume format, for the writer and the reader alike.
//
// A volume has no header: each stored file is its data blocks (the last one
// filled up with 0x00 bytes) followed by one trailer block. Positions count
// in the uncompressed stream, so they mean the same whether the volume is
// plain or a sequence of gzip members. The first volume of a run is named
// after the job, later ones add "-001", "-002" ...

// Volumes are read and written in runs of this many bytes, a multiple of
// every block size, so small blocks do not cost a system call each.
inline constexpr std::int64_t kArchiveIoRun = 256 * 1024;

// Block size for a file of `size` bytes: larger files, larger blocks.
std::int64_t BlockSizeFor(std::int64_t size);

// Data blocks of a file of `size` bytes (`recSize` > 0); the trailer block
// comes on top.
std::int64_t DataBlockCount(std::int64_t size, std::int64_t recSize);

// Fills a block up to `recSize` bytes with 0x00.
void PadBlock(std::string& block, std::int64_t recSize);

// True for a non-empty run of 0x00 bytes: left as a hole on disk.
bool IsAllZero(std::string_view data);

// "Daily" and 0 give "Daily", "Daily" and 1 give "Daily-001".
std::string VolumeName(const std::string& base, std::int64_t number);

// The reverse for a numbered name: "Daily-001" is "Daily" and 1. Only the
// writer's own spelling counts (at least three digits, reading back the same).
bool SplitVolumeNumber(const std::string& name, std::string& base, std::int64_t& number);

// File names of a volume and of a job's index.
std::string VolumeFileName(const std::string& volume);
std::string IndexFileName(const std::string& jobName);

// The trailer keeps at most this many bytes of the path.
inline constexpr std::size_t kTrailerPathWidth = 255;

// The trailer record that closes an entry, before its 0x00 filling.
std::string TrailerRecord(const clsArchiveFileData& rec);

// Whether a trailer block closes the file with this name, size and checksum
// (8 hex digits, either case).
bool TrailerNames(std::string_view trailer, const std::string& fname, std::int64_t size,
                  const std::string& checksumHex);

// The 4-byte checksum chained over an archived file's blocks: byte k is the
// start value's byte k XOR every data byte at a position congruent to k
// modulo 4. Blocks are multiples of 4 bytes, so a run of blocks can be added
// at once and the sum is the same.
class BlockChecksum {
public:
    BlockChecksum() = default;
    // Exactly 4 bytes: shorter start values are filled with spaces, longer cut.
    explicit BlockChecksum(std::string_view start);

    // Also tells whether `data` was a non-empty run of 0x00 bytes, so a
    // writer learns it in the same pass (IsAllZero).
    bool Add(std::string_view data);
    std::string Bytes() const;

private:
    unsigned char sum_[4] = {0, 0, 0, 0};
};

// BlockChecksum in one call: `start` chained with `buffer`.
std::string XorBlockChecksum(const std::string& buffer, const std::string& start);

// Two upper-case hex digits per byte, first byte first.
std::string HexString(const std::string& bytes);

// 8 hex digits (either case) into the 4 checksum bytes; false for anything else.
bool ParseChecksumText(std::string_view hex, std::string& bytes);
