#include "archive/ArchiveIndex.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

namespace {

DateTime At(int y, int mo, int d, int h, int mi, int s) {
    return *DateTime::FromParts(y, mo, d, h, mi, s);
}

clsArchiveFileData ReportRecord() {
    clsArchiveFileData rec;
    rec.dSize = 102400;
    rec.sFileName = "/home/ann/Data/report, final=2.doc";
    rec.crc32 = std::string("\x1A\x2B\x3C\x4D", 4);
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

} // namespace

TEST(IndexLine, HoldsEveryKeyInOrderWithSignedTimeHalvesAndCrLf) {
    EXPECT_EQ(FormatIndexLine(ReportRecord(), At(2024, 3, 1, 22, 15, 0), 1024),
              "dSession=20240301221500|RecSize=1024|arcStart=Daily|sOffs=4294967808"
              "|arcEnd=Daily-001|dEndOffset=103424|fname=/home/ann/Data/report, final=2.doc"
              "|size=102400|crc=1A2B3C4D|Attrib=2175008800|dCT=29600000/-1500000000"
              "|dLAt=29610000/12345678|dLWt=-1/-2147483648\r\n");
}

TEST(IndexLine, ReadsBackToTheSameValues) {
    const std::string line = FormatIndexLine(ReportRecord(), At(2024, 3, 1, 22, 15, 0), 1024);
    const clsRestoreFileData r = ParseIndexRecord(line.substr(0, line.size() - 2));
    EXPECT_EQ(r.dSession, At(2024, 3, 1, 22, 15, 0));
    EXPECT_EQ(r.recsize, 1024);
    EXPECT_EQ(r.arcStart, "Daily");
    EXPECT_EQ(r.soffs, 4294967808LL);
    EXPECT_EQ(r.arcEnd, "Daily-001");
    EXPECT_EQ(r.dendoffset, 103424);
    EXPECT_EQ(r.fname, "/home/ann/Data/report, final=2.doc");
    EXPECT_EQ(r.size, 102400);
    EXPECT_EQ(r.crc, "1A2B3C4D");
    EXPECT_EQ(r.Attrib, 2175008800LL);
    EXPECT_EQ(r.tCreationTimeGet(), (FileTimeHalves{29600000, 2794967296u}));
    EXPECT_EQ(r.tLastAccessTimeGet(), (FileTimeHalves{29610000, 12345678}));
    EXPECT_EQ(r.tLastWriteTimeGet(), (FileTimeHalves{0xFFFFFFFFu, 0x80000000u}));
}

TEST(IndexParse, SessionAndNameAloneLeaveEveryNumberZero) {
    const clsRestoreFileData r = ParseIndexRecord("dSession=20240301221500|fname=C:\\a\\b.txt");
    EXPECT_EQ(r.dSession, At(2024, 3, 1, 22, 15, 0));
    EXPECT_EQ(r.fname, "C:\\a\\b.txt");
    EXPECT_EQ(r.size, 0);
    EXPECT_EQ(r.soffs, 0);
    EXPECT_EQ(r.dendoffset, 0);
    EXPECT_EQ(r.recsize, 0);
    EXPECT_EQ(r.Attrib, 0);
    EXPECT_EQ(r.arcStart, "");
    EXPECT_EQ(r.tLastWriteTimeGet(), (FileTimeHalves{0, 0}));
}

TEST(IndexParse, KeysMatchInAnyCaseAndOnlyTheFirstEqualsSeparates) {
    const clsRestoreFileData r =
        ParseIndexRecord("FNAME=/x/a=b==c.txt|SIZE=12|arcstart=V|DENDOFFSET=99|attrib=32");
    EXPECT_EQ(r.fname, "/x/a=b==c.txt");
    EXPECT_EQ(r.size, 12);
    EXPECT_EQ(r.arcStart, "V");
    EXPECT_EQ(r.dendoffset, 99);
    EXPECT_EQ(r.Attrib, 32);
}

TEST(IndexParse, CommasStayInNamesAndFieldsWithoutEqualsOrUnknownKeysAreIgnored) {
    const clsRestoreFileData r =
        ParseIndexRecord("stray|fname=/d/one, two,three.txt||other=5|size=7|");
    EXPECT_EQ(r.fname, "/d/one, two,three.txt");
    EXPECT_EQ(r.size, 7);
}

TEST(IndexParse, NumbersThatAreNotNumbersReadAsZero) {
    const clsRestoreFileData r = ParseIndexRecord("size=12abc|sOffs=|RecSize= 512 ");
    EXPECT_EQ(r.size, 0);
    EXPECT_EQ(r.soffs, 0);
    EXPECT_EQ(r.recsize, 512);
}

TEST(IndexParse, SessionOtherThanFourteenDigitsIsTheZeroDate) {
    EXPECT_EQ(ParseSessionDate("2024030122150"), DateTime::ZeroDate());
    EXPECT_EQ(ParseSessionDate("202403012215000"), DateTime::ZeroDate());
    EXPECT_EQ(ParseSessionDate(""), DateTime::ZeroDate());
    EXPECT_EQ(ParseSessionDate("2024x301221500"), DateTime::ZeroDate());
    EXPECT_EQ(ParseSessionDate("20241301221500"), DateTime::ZeroDate()); // month 13
    EXPECT_EQ(ParseSessionDate("19991231235959"), At(1999, 12, 31, 23, 59, 59));
}

TEST(IndexParse, TimePairsKeepTheBitPatternOfNegativeHalves) {
    std::int32_t high = 7, low = 7;
    EXPECT_TRUE(SplitTimePair("29600000/-1500000000", high, low));
    EXPECT_EQ(high, 29600000);
    EXPECT_EQ(low, -1500000000);
    EXPECT_EQ(static_cast<std::uint32_t>(low), 2794967296u);
    // An unsigned spelling of the same half reads the same.
    EXPECT_TRUE(SplitTimePair("1/2794967296", high, low));
    EXPECT_EQ(low, -1500000000);
    EXPECT_FALSE(SplitTimePair("123", high, low));
    EXPECT_EQ(high, 1);
}

TEST(IndexParse, ATimeWithoutSlashRepeatsThePreviousTimeOfTheLine) {
    const clsRestoreFileData r = ParseIndexRecord("dLAt=garbage|dCT=5/-6|dLWt=junk");
    EXPECT_EQ(r.tLastAccessTimeGet(), (FileTimeHalves{0, 0}));
    EXPECT_EQ(r.tCreationTimeGet(), (FileTimeHalves{5, static_cast<std::uint32_t>(-6)}));
    EXPECT_EQ(r.tLastWriteTimeGet(), (FileTimeHalves{5, static_cast<std::uint32_t>(-6)}));
}

TEST(IndexFile, ReadsCrLfAndLfLinesAndSkipsBlankOnes) {
    TempHome home;
    home.Write("Daily.fs", "dSession=20240301221500|fname=/a|size=1|dLWt=1/1\r\n"
                           "\r\n"
                           "   \n"
                           "dSession=20240302221500|fname=/b |size=2|dLWt=1/1\n"
                           "\n"
                           "dSession=20240303221500|fname=/c|size=3|dLWt=1/1");
    std::vector<clsRestoreFileData> records(5);
    ASSERT_TRUE(LoadIndexRecords(home.File("Daily.fs"), records));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].fname, "/a");
    EXPECT_EQ(records[1].fname, "/b "); // trailing blank belongs to the name
    EXPECT_EQ(records[1].dSession, At(2024, 3, 2, 22, 15, 0));
    EXPECT_EQ(records[2].size, 3);
}

TEST(IndexFile, AnInterruptedLastLineIsNotTakenForARecord) {
    TempHome home;
    home.Write("Daily.fs", "dSession=20240301221500|fname=/a|size=1|dLWt=1/1\r\n"
                           "dSession=20240301221500|fname=/b|size=10");
    std::vector<clsRestoreFileData> records;
    ASSERT_TRUE(LoadIndexRecords(home.File("Daily.fs"), records));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].fname, "/a");
}

TEST(IndexFile, MissingFileIsReportedAndLeavesNoRecords) {
    TempHome home;
    std::vector<clsRestoreFileData> records(2);
    EXPECT_FALSE(LoadIndexRecords(home.File("none.fs"), records));
    EXPECT_TRUE(records.empty());
}

TEST(IndexFile, AHundredThousandLinesAllComeBackInOrder) {
    TempHome home;
    std::string text;
    clsArchiveFileData rec = ReportRecord();
    for (int i = 0; i < 100000; ++i) {
        rec.sFileName = "/data/folder" + std::to_string(i % 97) + "/file" + std::to_string(i);
        rec.dStartOffset = static_cast<std::int64_t>(i) * 1536;
        text += FormatIndexLine(rec, At(2024, 3, 1, 22, 15, i % 60), 512);
    }
    home.Write("Big.fs", text);
    std::vector<clsRestoreFileData> records;
    ASSERT_TRUE(LoadIndexRecords(home.File("Big.fs"), records));
    ASSERT_EQ(records.size(), 100000u);
    EXPECT_EQ(records[99999].fname, "/data/folder89/file99999");
    EXPECT_EQ(records[99999].soffs, 99999LL * 1536);
    EXPECT_EQ(records[99999].dSession, At(2024, 3, 1, 22, 15, 39));
    EXPECT_EQ(records[12345].tLastWriteTimeGet(), (FileTimeHalves{0xFFFFFFFFu, 0x80000000u}));
}
