#include "archive/GzipVolume.h"
#include "archive/ArchiveTestSupport.h"

#include <zlib.h>

using namespace archive_test;

namespace {

// What zlib's own reader makes of a file.
std::string GzRead(const std::string& path) {
    std::string out;
    gzFile gz = ::gzopen(path.c_str(), "rb");
    char buf[65536];
    for (int n; gz != nullptr && (n = ::gzread(gz, buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<std::size_t>(n));
    if (gz != nullptr)
        ::gzclose(gz);
    return out;
}

// Writes `data` in uneven pieces; at `detourAt` it marks the stream, writes
// bytes that must not stay (finishing the member first when asked) and goes
// back.
void WriteVolume(const std::string& path, const std::string& data, unsigned workers,
                 std::size_t detourAt, bool finishInDetour) {
    GzipVolumeWriter writer(workers);
    ASSERT_TRUE(writer.Open(path));
    for (std::size_t at = 0; at < data.size() || at == detourAt;) {
        if (at == detourAt) {
            const GzipVolumeWriter::Mark mark = writer.MarkHere();
            ASSERT_TRUE(writer.Write(PseudoRandomBytes(5 * GzipVolumeWriter::kChunk / 2, 9)));
            if (finishInDetour)
                ASSERT_TRUE(writer.Finish());
            ASSERT_TRUE(writer.RollBack(mark));
            EXPECT_EQ(writer.Position(), static_cast<std::int64_t>(at));
            detourAt = std::string::npos;
        }
        std::size_t n = std::min<std::size_t>(10007, data.size() - at);
        if (detourAt > at)
            n = std::min(n, detourAt - at);
        ASSERT_TRUE(writer.Write(std::string_view(data).substr(at, n)));
        at += n;
    }
    ASSERT_TRUE(writer.Finish());
}

} // namespace

// Around chunk boundaries, text and bytes that do not compress: zcat and
// gzread read back the very bytes, whatever the number of workers, and a
// stream taken back to a mark is byte for byte the one that never left it.
TEST(GzipVolume, ReadsBackAsWrittenAndRollsBackWithoutTrace) {
    TempHome dir;
    const std::size_t chunk = GzipVolumeWriter::kChunk;
    std::string text;
    for (std::uint32_t i = 0; text.size() < 3 * chunk + 5; ++i)
        text += std::to_string(i % 7919) + (i % 11 ? " " : "\n");
    text.resize(3 * chunk + 5);
    const std::string noise = PseudoRandomBytes(2 * chunk + 7, 3);
    const std::vector<std::pair<std::string, std::size_t>> cases = {
        {"", 0},
        {"x", 1},
        {text.substr(0, chunk - 1), chunk - 1},
        {text.substr(0, chunk), chunk},
        {text.substr(0, chunk + 1), chunk},
        {text, chunk + 3},
        {noise, 40000},
        {text.substr(0, 70000), 70000},
    };
    for (const auto& [data, detourAt] : cases) {
        const std::string plain = dir.File("plain.gz"), live = dir.File("live.gz"),
                          finished = dir.File("finished.gz");
        WriteVolume(plain, data, 1, std::string::npos, false);
        WriteVolume(live, data, 3, detourAt, false);
        WriteVolume(finished, data, 2, detourAt, true);
        EXPECT_TRUE(Zcat(plain) == data) << data.size();
        EXPECT_TRUE(GzRead(plain) == data) << data.size();
        const std::string bytes = ReadTestFile(plain);
        EXPECT_TRUE(ReadTestFile(live) == bytes) << data.size();
        EXPECT_TRUE(ReadTestFile(finished) == bytes) << data.size();
        // Compressed like gzip -9 would, not stored.
        if (data == text)
            EXPECT_LT(bytes.size(), data.size() / 2);
        for (const std::string& f : {plain, live, finished})
            RemoveFile(f);
    }
}
