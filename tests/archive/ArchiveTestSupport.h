#pragma once
// Helpers for the archive tests. The reader here is written from the formats
// alone (index lines, volume layout, gzip members) and shares no code with
// the archive writer, so a round trip through it checks the writer for real.

#include "archive/clsDskFile.h"
#include "platform/FileTimes.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>
#include <zlib.h>

namespace archive_test {

inline std::string ReadBytes(const std::string& path) {
    std::string out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return out;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    std::fclose(f);
    return out;
}

// The whole uncompressed stream of a gzip file, every member, through gzread.
inline std::string Gunzip(const std::string& path) {
    std::string out;
    gzFile gz = gzopen(path.c_str(), "rb");
    if (gz == nullptr)
        return out;
    char buf[65536];
    int n;
    while ((n = gzread(gz, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<std::size_t>(n));
    gzclose(gz);
    return out;
}

// What the real zcat prints for a file.
inline std::string Zcat(const std::string& path) {
    std::string out;
    FILE* p = ::popen(("zcat '" + path + "'").c_str(), "r");
    if (p == nullptr)
        return out;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    ::pclose(p);
    return out;
}

// Number of complete gzip members in a file; -1 when it is not a clean
// sequence of members.
inline int CountGzipMembers(const std::string& path) {
    const std::string in = ReadBytes(path);
    z_stream s{};
    if (inflateInit2(&s, 16 + MAX_WBITS) != Z_OK)
        return -1;
    std::string sink(65536, '\0');
    std::size_t pos = 0;
    int members = 0;
    while (pos < in.size()) {
        s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data() + pos));
        s.avail_in = static_cast<uInt>(in.size() - pos);
        int rc;
        do {
            s.next_out = reinterpret_cast<Bytef*>(sink.data());
            s.avail_out = static_cast<uInt>(sink.size());
            rc = inflate(&s, Z_NO_FLUSH);
        } while (rc == Z_OK);
        if (rc != Z_STREAM_END) {
            inflateEnd(&s);
            return -1;
        }
        ++members;
        pos = in.size() - s.avail_in;
        inflateReset(&s);
    }
    inflateEnd(&s);
    return members;
}

// Checksum the slow, obvious way: byte k = XOR of the bytes at positions
// congruent to k modulo 4.
inline std::string NaiveChecksum(const std::string& data) {
    unsigned char sum[4] = {0, 0, 0, 0};
    for (std::size_t i = 0; i < data.size(); ++i)
        sum[i % 4] ^= static_cast<unsigned char>(data[i]);
    return std::string(reinterpret_cast<const char*>(sum), 4);
}

inline std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

using Fields = std::map<std::string, std::string>;

// Index lines split at "|" and at the first "=" of each field.
inline std::vector<Fields> ReadIndex(const std::string& path) {
    std::vector<Fields> lines;
    const std::string text = ReadBytes(path);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find("\r\n", pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 2;
        Fields f;
        std::size_t start = 0;
        while (start <= line.size()) {
            std::size_t bar = line.find('|', start);
            if (bar == std::string::npos)
                bar = line.size();
            const std::string field = line.substr(start, bar - start);
            const std::size_t eq = field.find('=');
            if (eq != std::string::npos)
                f[field.substr(0, eq)] = field.substr(eq + 1);
            start = bar + 1;
        }
        lines.push_back(f);
    }
    return lines;
}

// "Daily" -> "Daily-001", "Daily-001" -> "Daily-002".
inline std::string NextVolume(const std::string& name) {
    const std::size_t dash = name.rfind('-');
    if (dash != std::string::npos && name.size() - dash == 4) {
        const int n = std::stoi(name.substr(dash + 1)) + 1;
        char digits[16];
        std::snprintf(digits, sizeof digits, "%03d", n);
        return name.substr(0, dash) + "-" + digits;
    }
    return name + "-001";
}

struct Extracted {
    std::string data;    // the file's bytes
    std::string trailer; // the whole trailer block
    std::string error;   // empty when every check passed
};

// Cuts one stored file out of the volumes in `folder` using only its index
// fields, following it into the next volume where a volume ends.
inline Extracted ExtractFile(const std::string& folder, const Fields& f, bool zipped) {
    Extracted out;
    auto load = [&](const std::string& volume) {
        const std::string path = folder + "/" + volume + ".darc";
        return zipped ? Gunzip(path) : ReadBytes(path);
    };
    const std::int64_t size = std::stoll(f.at("size"));
    const std::int64_t rec = std::stoll(f.at("RecSize"));
    std::string volume = f.at("arcStart");
    std::string stream = load(volume);
    std::int64_t pos = std::stoll(f.at("sOffs"));
    auto nextBlock = [&]() {
        if (pos == static_cast<std::int64_t>(stream.size()) && volume != f.at("arcEnd")) {
            volume = NextVolume(volume);
            stream = load(volume);
            pos = 0;
        }
        if (pos + rec > static_cast<std::int64_t>(stream.size())) {
            out.error = "block beyond the end of " + volume;
            return std::string();
        }
        const std::string block = stream.substr(static_cast<std::size_t>(pos), rec);
        pos += rec;
        return block;
    };
    std::string blocks;
    for (std::int64_t b = 0; b < (size + rec - 1) / rec && out.error.empty(); ++b)
        blocks += nextBlock();
    if (!out.error.empty())
        return out;
    out.trailer = nextBlock();
    if (!out.error.empty())
        return out;
    if (volume != f.at("arcEnd"))
        out.error = "entry ends in " + volume + ", index says " + f.at("arcEnd");
    else if (std::to_string(pos) != f.at("dEndOffset"))
        out.error = "entry ends at " + std::to_string(pos) + ", index says " + f.at("dEndOffset");
    else if (blocks.find_first_not_of('\0', static_cast<std::size_t>(size)) != std::string::npos)
        out.error = "filling after the data is not 0x00";
    else if (Hex(NaiveChecksum(blocks)) != f.at("crc"))
        out.error = "checksum " + Hex(NaiveChecksum(blocks)) + " but index says " + f.at("crc");
    out.data = blocks.substr(0, static_cast<std::size_t>(size));
    return out;
}

// A file record as the file search would make it.
inline clsDskFile DskFileFor(const std::string& fullPath) {
    clsDskFile f;
    const std::size_t slash = fullPath.rfind('/');
    f.path = fullPath.substr(0, slash + 1);
    f.filename = fullPath.substr(slash + 1);
    struct stat st {};
    if (::stat(fullPath.c_str(), &st) == 0) {
        f.dSize = st.st_size;
        f.dAttrib = AttributeWord(st, f.filename);
        const FileTimesOf t = ReadFileTimes(fullPath, st);
        f.tCreationTimeSet(t.creation.high, t.creation.low);
        f.tLastAccessTimeSet(t.lastAccess.high, t.lastAccess.low);
        f.tLastWriteTimeSet(t.lastWrite.high, t.lastWrite.low);
    }
    return f;
}

// Bytes that do not compress and do not repeat, always the same for the same number.
inline std::string PseudoRandomBytes(std::size_t n, std::uint32_t origin) {
    std::string out(n, '\0');
    std::uint32_t x = origin * 2654435761u + 1;
    for (std::size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<char>(x >> 24);
    }
    return out;
}

} // namespace archive_test
