#include "archive/ArchiveFormat.h"

#include <algorithm>
#include <cstring>

namespace {

// Zero-padded decimal; a number with more digits than the width keeps them all.
std::string ZeroPadded(std::int64_t value, std::size_t width) {
    std::string digits = std::to_string(value);
    if (digits.size() < width)
        digits.insert(0, width - digits.size(), '0');
    return digits;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string UpperHex(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'f')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

} // namespace

std::int64_t BlockSizeFor(std::int64_t size) {
    // Byte forms of the thresholds 10, 25, 50, 102.4 and 1024 (size / 10240).
    if (size < 102400)
        return 512;
    if (size < 256000)
        return 1024;
    if (size < 512000)
        return 2048;
    if (size < 1048576)
        return 4096;
    if (size < 10485760)
        return 4 * 4096;
    return 7 * 4096;
}

std::int64_t DataBlockCount(std::int64_t size, std::int64_t recSize) {
    return size / recSize + (size % recSize != 0 ? 1 : 0);
}

void PadBlock(std::string& block, std::int64_t recSize) {
    block.resize(static_cast<std::size_t>(recSize), '\0');
}

bool IsAllZero(std::string_view data) {
    return !data.empty() && data[0] == '\0' &&
           std::memcmp(data.data(), data.data() + 1, data.size() - 1) == 0;
}

std::string VolumeName(const std::string& base, std::int64_t number) {
    return number == 0 ? base : base + "-" + ZeroPadded(number, 3);
}

bool SplitVolumeNumber(const std::string& name, std::string& base, std::int64_t& number) {
    const std::size_t dash = name.rfind('-');
    if (dash == std::string::npos || dash == 0)
        return false;
    const std::string digits = name.substr(dash + 1);
    if (digits.size() < 3 || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    number = std::stoll(digits);
    base = name.substr(0, dash);
    return number > 0 && ZeroPadded(number, 3) == digits;
}

std::string VolumeFileName(const std::string& volume) {
    return volume + ".darc";
}

std::string IndexFileName(const std::string& jobName) {
    return jobName + ".fs";
}

namespace {

// What both ends agree on at the front of a trailer: name, size, checksum.
std::string TrailerHead(const std::string& fname, std::int64_t size, const std::string& hex) {
    return fname.substr(0, kTrailerPathWidth) + ZeroPadded(size, 12) + hex;
}

} // namespace

std::string TrailerRecord(const clsArchiveFileData& rec) {
    std::string record = TrailerHead(rec.sFileName, rec.dSize, HexString(rec.crc32));
    record += ZeroPadded(rec.dStartOffset, 14);
    record += ZeroPadded(rec.dEndOffset, 14);
    record += rec.AddDate.Format("yyyyMMddHHmmss");
    record += ZeroPadded(rec.dAttributes, 13);
    return record;
}

bool TrailerNames(std::string_view trailer, const std::string& fname, std::int64_t size,
                  const std::string& checksumHex) {
    const std::string expected = TrailerHead(fname, size, UpperHex(checksumHex));
    return trailer.size() >= expected.size() &&
           trailer.substr(0, expected.size()) == std::string_view(expected);
}

BlockChecksum::BlockChecksum(std::string_view start) {
    std::memset(sum_, ' ', 4);
    std::memcpy(sum_, start.data(), std::min<std::size_t>(start.size(), 4));
}

bool BlockChecksum::Add(std::string_view data) {
    // Eight bytes at a time, four words per turn so the XORs run side by
    // side: bytes k and k+4 of a word both fall on byte k.
    const char* p = data.data();
    const std::size_t size = data.size();
    std::uint64_t a0 = 0, a1 = 0, a2 = 0, a3 = 0, o0 = 0, o1 = 0, o2 = 0, o3 = 0;
    std::size_t i = 0;
    auto word = [p](std::size_t at) {
        std::uint64_t w;
        std::memcpy(&w, p + at, 8);
        return w;
    };
    for (; i + 32 <= size; i += 32) {
        const std::uint64_t w0 = word(i), w1 = word(i + 8), w2 = word(i + 16), w3 = word(i + 24);
        a0 ^= w0, a1 ^= w1, a2 ^= w2, a3 ^= w3;
        o0 |= w0, o1 |= w1, o2 |= w2, o3 |= w3;
    }
    for (; i + 8 <= size; i += 8) {
        const std::uint64_t w = word(i);
        a0 ^= w;
        o0 |= w;
    }
    const std::uint64_t all = a0 ^ a1 ^ a2 ^ a3;
    std::uint64_t nonzero = o0 | o1 | o2 | o3;
    const std::uint32_t folded =
        static_cast<std::uint32_t>(all) ^ static_cast<std::uint32_t>(all >> 32);
    unsigned char bytes[4];
    std::memcpy(bytes, &folded, 4);
    for (int k = 0; k < 4; ++k)
        sum_[k] ^= bytes[k];
    // A tail shorter than a word counts as if filled up with 0x00 bytes.
    for (; i < size; ++i) {
        sum_[i % 4] ^= static_cast<unsigned char>(p[i]);
        nonzero |= static_cast<unsigned char>(p[i]);
    }
    return size != 0 && nonzero == 0;
}

std::string BlockChecksum::Bytes() const {
    return std::string(reinterpret_cast<const char*>(sum_), 4);
}

std::string XorBlockChecksum(const std::string& buffer, const std::string& start) {
    BlockChecksum sum(start);
    sum.Add(buffer);
    return sum.Bytes();
}

std::string HexString(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}

bool ParseChecksumText(std::string_view hex, std::string& bytes) {
    if (hex.size() != 8)
        return false;
    bytes.assign(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) {
        const int high = HexDigit(hex[2 * i]);
        const int low = HexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes[i] = static_cast<char>(high * 16 + low);
    }
    return true;
}
