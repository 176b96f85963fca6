#pragma once
// Shared by the archive tests: entries laid out by hand from the formats, and
// a program folder with jobs.

#include "archive/ArchiveFormat.h"
#include "archive/ArchiveIndex.h"
#include "archive/RecordCheck.h"
#include "archive/RestoreTree.h"
#include "archive/clsArchive.h"
#include "archive/clsDskFile.h"
#include "engine/RestoreRun.h"
#include "engine/SourceFiles.h"
#include "support/ProgramFolderSetup.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace archive_test {

// What the real zcat prints for a file.
inline std::string Zcat(const std::string& path) {
    std::string out;
    char buf[65536];
    FILE* p = ::popen(("zcat '" + path + "'").c_str(), "r");
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    ::pclose(p);
    return out;
}
// The checksum the slow, obvious way: byte k = XOR of the bytes at positions
// congruent to k modulo 4.
inline std::string NaiveChecksum(const std::string& data) {
    std::string sum(4, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        sum[i % 4] = static_cast<char>(sum[i % 4] ^ data[i]);
    return sum;
}
inline std::string Replaced(std::string text, const std::string& what, const std::string& with) {
    return text.replace(text.find(what), what.size(), with);
}
inline std::string Padded(std::int64_t value, std::size_t width) {
    const std::string digits = std::to_string(value);
    return std::string(width > digits.size() ? width - digits.size() : 0, '0') + digits;
}
// One stored file laid out by hand in 512-byte blocks: its blocks filled up
// with 0x00, the trailer block, and the index line that finds it. Written at
// 1700000000 s after 1970: 133444736000000000 ticks of 100 ns since 1601.
struct HandEntry {
    std::string blocks, trailer, line;
};
inline HandEntry MakeEntry(const std::string& fname, const std::string& data, std::int64_t attrib,
                           const std::string& arcStart, std::int64_t start,
                           const std::string& arcEnd, std::int64_t end) {
    HandEntry e;
    e.blocks = data;
    e.blocks.resize((data.size() + 511) / 512 * 512, '\0');
    const std::string crc = HexString(NaiveChecksum(e.blocks));
    e.trailer = fname + Padded(static_cast<std::int64_t>(data.size()), 12) + crc +
                Padded(start, 14) + Padded(end, 14) + "20240301221500" + Padded(attrib, 13);
    e.trailer.resize(512, '\0');
    e.line = "dSession=20240301221500|RecSize=512|arcStart=" + arcStart +
             "|sOffs=" + std::to_string(start) + "|arcEnd=" + arcEnd +
             "|dEndOffset=" + std::to_string(end) + "|fname=" + fname +
             "|size=" + std::to_string(data.size()) + "|crc=" + crc +
             "|Attrib=" + std::to_string(attrib) +
             "|dCT=0/0|dLAt=31070023/-965935104|dLWt=31070023/-965935104\r\n";
    return e;
}
// A file record as the file search would make it; also for names it would
// pass over (missing files, pipes), to see the writer refuse them.
inline clsDskFile DskFileFor(const std::string& fullPath) {
    clsDskFile f = SingleFileRecord({.sPath = fullPath});
    f.filename = FileNameOf(fullPath);
    return f;
}
// Bytes that do not compress and do not repeat, the same for the same origin.
inline std::string PseudoRandomBytes(std::size_t n, std::uint32_t origin) {
    std::string out(n, '\0');
    std::uint32_t x = origin * 2654435761u + 1;
    for (char& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x >> 24);
    }
    return out;
}
// The run fixture with a folder to restore into; the engine's restore list is
// let go after each test.
class RestoreFixture : public RunFixture {
protected:
    void TearDown() override {
        gRestoreJob.reset();
        gRestoreList.clear();
        RunFixture::TearDown();
    }
    using RunFixture::AddJob;
    std::shared_ptr<clsBackup> AddJob(const std::string& name, bool zipped, int split,
                                      const std::vector<std::string>& sources) {
        auto job = AddJob(name, sources);
        job->bZipped = zipped;
        job->splitSize = split;
        return job;
    }
    RestoreResult LoadAndRestore(const std::string& name, const RestoreTarget& target) {
        host.boxes.clear();
        std::string why;
        EXPECT_TRUE(LoadRestoreList(name, &why)) << why;
        return gRestoreJob ? RestoreFiles(*gRestoreJob, gRestoreList, target) : RestoreResult{};
    }
    bool BoxSays(const std::string& text) const {
        return std::any_of(host.boxes.begin(), host.boxes.end(),
                           [&](const auto& b) { return b.text.find(text) != std::string::npos; });
    }
    TempHome chosen;
};

} // namespace archive_test
