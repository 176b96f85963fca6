#include "archive/ArchiveTestSupport.h"

using namespace archive_test;

namespace {

clsArchiveFileData ReportRecord() {
    clsArchiveFileData rec;
    rec.dSize = 102400;
    rec.sFileName = "/home/ann/Data/report, final=2.doc";
    rec.crc32 = "\x1A\x2B\x3C\x4D";
    rec.sArchiveStart = "Daily";
    rec.sArchiveEnd = "Daily-001";
    rec.dStartOffset = 4294967296LL + 512;
    rec.dEndOffset = 103424;
    rec.dAttributes = 2175008800LL; // 0x81A40020: mode 0100644 and "archive"
    rec.tCreationTimeSet(29600000, static_cast<std::uint32_t>(-1500000000));
    rec.tLastAccessTimeSet(29610000, 12345678);
    rec.tLastWriteTimeSet(0xFFFFFFFFu, 0x80000000u);
    return rec;
}
const std::string kReportLine =
    "dSession=20240301221500|RecSize=1024|arcStart=Daily|sOffs=4294967808"
    "|arcEnd=Daily-001|dEndOffset=103424|fname=/home/ann/Data/report, final=2.doc"
    "|size=102400|crc=1A2B3C4D|Attrib=2175008800|dCT=29600000/-1500000000"
    "|dLAt=29610000/12345678|dLWt=-1/-2147483648\r\n";
// A record's fields in index order, times as their two halves.
std::string Fields(const clsRestoreFileData& r) {
    std::string out = r.dSession.Format("yyyyMMddHHmmss");
    for (const std::int64_t n : {r.recsize, r.soffs, r.dendoffset, r.size, r.Attrib})
        out += " " + std::to_string(n);
    for (const FileTimeHalves& t :
         {r.tCreationTimeGet(), r.tLastAccessTimeGet(), r.tLastWriteTimeGet()})
        out += " " + std::to_string(t.high) + "/" + std::to_string(t.low);
    return out + " " + r.arcStart + ".." + r.arcEnd + " " + r.crc + " " + r.fname;
}

} // namespace

TEST(ArchiveFormat, BlockSizeChangesAtEachThreshold) {
    const std::pair<std::int64_t, std::int64_t> expected[] = {
        {0, 512},         {102399, 512},     {102400, 1024},    {255999, 1024},
        {256000, 2048},   {511999, 2048},    {512000, 4096},    {1048575, 4096},
        {1048576, 16384}, {10485759, 16384}, {10485760, 28672}, {5LL << 32, 28672}};
    for (const auto& [size, block] : expected)
        EXPECT_EQ(BlockSizeFor(size), block) << size;
}

TEST(ArchiveFormat, ChecksumBytesFollowTheDefinition) {
    struct Case {
        std::string data, start, sum;
    };
    const Case cases[] = {
        {"\x01\x02\x03\x04\x05\x06\x07\x08", std::string(4, '\0'), "\x04\x04\x04\x0C"},
        {"abc", std::string(4, '\0'), "abc" + std::string(1, '\0')}, // a short tail counts as 0x00
        {"", "ab", "ab  "},                                          // start filled with spaces
        {"", "abcdef", "abcd"},                                      // or cut
        {"\x01\x01\x01\x01", std::string("\xF0\x0F\xFF\x00", 4), "\xF1\x0E\xFE\x01"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(XorBlockChecksum(c.data, c.start), c.sum) << HexString(c.data);
    // Chained over blocks, or summed over a run of them at once: the same;
    // odd offsets exercise unaligned words.
    const std::string data = PseudoRandomBytes(100003, 7);
    std::string chained(4, '\0');
    BlockChecksum run;
    for (std::size_t at = 0; at < data.size(); at += 28672) {
        chained = XorBlockChecksum(data.substr(at, 28672), chained);
        run.Add(std::string_view(data).substr(at, 28672));
    }
    EXPECT_EQ(chained + run.Bytes(), NaiveChecksum(data) + NaiveChecksum(data));
    EXPECT_EQ(XorBlockChecksum(data.substr(1), std::string(4, '\0')),
              NaiveChecksum(data.substr(1)));
}

// The same pass tells a writer whether a block is all zeros, to be left as a
// hole: one byte anywhere else, in any word of a turn or in the tail, is data.
TEST(ArchiveFormat, ABlockIsZerosOnlyWithoutASingleOtherByte) {
    EXPECT_FALSE(BlockChecksum().Add(""));
    for (const std::size_t size : {1, 7, 8, 9, 31, 32, 33, 40, 63, 512}) {
        const std::string zeros(size, '\0');
        EXPECT_TRUE(BlockChecksum().Add(zeros)) << size;
        for (std::size_t at = 0; at < size; ++at) {
            std::string block = zeros;
            block[at] = '\x80';
            BlockChecksum sum;
            EXPECT_FALSE(sum.Add(block)) << size << " " << at;
            EXPECT_EQ(sum.Bytes(), NaiveChecksum(block)) << size << " " << at;
        }
    }
}

TEST(ArchiveFormat, VolumeNamesAreNumberedWithThreeDigitsAndReadBack) {
    EXPECT_EQ(VolumeName("Daily", 0) + " " + VolumeName("Daily", 1) + " " + VolumeName("D", 1000),
              "Daily Daily-001 D-1000");
    EXPECT_EQ(VolumeFileName("D-001") + " " + IndexFileName("D"), "D-001.darc D.fs");
    std::string base;
    std::int64_t number = 0;
    ASSERT_TRUE(SplitVolumeNumber("My-Job-012", base, number));
    EXPECT_EQ(base + " " + std::to_string(number), "My-Job 12");
    for (const char* notNumbered :
         {"Daily", "Daily-01", "Daily-0001", "Daily-000", "-001", "Daily-001x", "Daily-1234567890"})
        EXPECT_FALSE(SplitVolumeNumber(notNumbered, base, number)) << notNumbered;
    // An entry's volumes, even for a job whose name ends like a volume number.
    clsRestoreFileData rec = ParseIndexRecord(kReportLine.substr(0, kReportLine.size() - 2));
    rec.dendoffset = 2048; // three volumes of the 101 blocks
    for (const auto& [start, end] :
         {std::pair{"Daily", "Daily-002"}, {"Back-001", "Back-001-002"}}) {
        rec.arcStart = start;
        rec.arcEnd = end;
        const std::vector<std::string> chain = VolumeChain(rec);
        EXPECT_EQ(chain, (std::vector<std::string>{start, VolumeName(chain.at(0), 1), end}));
    }
}

TEST(IndexLine, HoldsEveryKeyInOrderAndReadsBackToTheSameValues) {
    EXPECT_EQ(FormatIndexLine(ReportRecord(), *DateTime::FromParts(2024, 3, 1, 22, 15, 0), 1024),
              kReportLine);
    const clsRestoreFileData r = ParseIndexRecord(kReportLine.substr(0, kReportLine.size() - 2));
    EXPECT_EQ(Fields(r), "20240301221500 1024 4294967808 103424 102400 2175008800 "
                         "29600000/2794967296 29610000/12345678 4294967295/2147483648 "
                         "Daily..Daily-001 1A2B3C4D /home/ann/Data/report, final=2.doc");
    EXPECT_EQ(RecordDamage(r), "");
}

TEST(IndexLine, FieldsAreReadLeniently) {
    // Keys in any case; only the first "=" separates; commas stay in names;
    // stray fields and unknown keys are ignored; a number that is not one is 0.
    const clsRestoreFileData r = ParseIndexRecord(
        "stray|FNAME=/x/a=b, c.txt||other=5|SIZE=12abc|arcstart=V|RecSize= 512 |sOffs=|"
        "DENDOFFSET=99|attrib=32|dLAt=garbage|dCT=5/4294967290|dLWt=junk");
    // A half may be written unsigned; a time without "/" repeats the line's previous one.
    EXPECT_EQ(Fields(r), "18991230000000 512 0 99 0 32 5/4294967290 0/0 5/4294967290 V.. "
                         " /x/a=b, c.txt");
}
// Each damaged line is left out with the reason; the lines around it stay.
TEST(IndexFile, ImpossibleRecordsAreLeftOutWithTheirReasonTheRestKept) {
    LoadMessageCatalogue("");
    const std::string good = kReportLine;
    const auto with = [&](const char* what, const char* by) { return Replaced(good, what, by); };
    const std::pair<std::string, std::string> cases[] = {
        {with("RecSize=1024", "RecSize=0"), "its block size 0 is impossible"},
        {with("RecSize=1024", "RecSize=1026"), "its block size 1026 is impossible"},
        {with("RecSize=1024", "RecSize=1099511627776"), "block size 1099511627776"}, // memory
        {with("size=102400", "size=-1"), "its size -1 is impossible"},
        {with("sOffs=4294967808", "sOffs=4611686018427387904"), "positions are impossible"},
        {with("dEndOffset=103424", "dEndOffset=0"), "its volume positions are impossible"},
        {with("crc=1A2B3C4D", "crc=1A2B3C4"), "its checksum \"1A2B3C4\" is not 8 hex digits"},
        {with("crc=1A2B3C4D", "crc=1A2B3C4G"), "is not 8 hex digits"},
        {with("arcEnd=Daily-001", "arcEnd=Other-001"),
         "its volumes \"Daily\" and \"Other-001\" do not follow each other"},
        {with("arcStart=Daily", "arcStart=../x"), "do not follow each other"},
        {with("arcStart=Daily", "arcStart=Daily-002"), "do not follow each other"},  // backwards
        {with("arcEnd=Daily-001", "arcEnd=Daily-0001"), "do not follow each other"}, // not ours
        {with("arcEnd=Daily-001", "arcEnd=Daily-900"), "its positions do not fit its size"},
        {with("dEndOffset=103424", "dEndOffset=103936"), "its positions do not fit its size"},
        {with("dLWt=-1/-2147483648", "dLWt=0/0"), "it records no modification time"},
        {with("dSession=20240301221500", "dSession=2024"), "it records no session"},
        {with("dSession=20240301221500", "dSession=20241301221500"), "it records no session"},
        {with("fname=/home/ann/Data/report, final=2.doc", "fname="), "it names no file"},
        {good.substr(0, 60), "it ends without a line end: the index was cut short"},
    };
    TempHome home;
    for (const auto& [damaged, reason] : cases) {
        home.Write("Daily.fs", good + damaged + (damaged.size() > 60 ? good : ""));
        std::vector<clsRestoreFileData> records;
        IndexReport report;
        EXPECT_TRUE(LoadIndexRecords(home.File("Daily.fs"), records, &report)) << reason;
        EXPECT_EQ(records.size(), damaged.size() > 60 ? 2u : 1u) << reason;
        EXPECT_EQ(report.damagedLines * 10 + report.firstDamagedLine, 12u) << reason;
        EXPECT_NE(report.firstDamage.find(reason), std::string::npos) << report.firstDamage;
        // The damaged record itself: no volume list is made of it.
        EXPECT_TRUE(VolumeChain(ParseIndexRecord(damaged.substr(0, damaged.find('\r')))).empty());
    }
    // Good lines end in CR LF or LF, blank lines are skipped, and a last line
    // complete but for its line end counts.
    const std::string line = kReportLine.substr(0, kReportLine.size() - 2);
    home.Write("Daily.fs", line + "\r\n\r\n   \n" + Replaced(line, ".doc", ".doc ") + "\n\n" +
                               Replaced(line, "20240301", "20240302"));
    std::vector<clsRestoreFileData> records(5);
    IndexReport report;
    ASSERT_TRUE(LoadIndexRecords(home.File("Daily.fs"), records, &report));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].fname, "/home/ann/Data/report, final=2.doc "); // the blank is the name's
    EXPECT_EQ(records[2].dSession,
              *DateTime::FromParts(2024, 3, 2, 22, 15, 0)); // complete without its line end
    EXPECT_EQ(report.damagedLines, 0u);
    EXPECT_FALSE(LoadIndexRecords(home.File("none.fs"), records, &report));
    EXPECT_TRUE(records.empty());
    EXPECT_EQ(report.readError, ENOENT);
    home.Write("Daily.fs", cases[0].first); // not one usable line: that is no index
    EXPECT_FALSE(LoadIndexRecords(home.File("Daily.fs"), records));
}
