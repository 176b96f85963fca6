#include "platform/IniFile.h"
#include "platform/DateTime.h"
#include "platform/FileSystem.h"
#include "platform/TextConvert.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(IniFile, ReadsSectionsWrittenWithCrLfOrLf) {
    for (const char* eol : {"\r\n", "\n"}) {
        IniFile ini;
        ini.Parse(std::string("[Backups]") + eol + "Daily" + eol + "  Weekly  " + eol + eol +
                  "[Daily]" + eol + "Type=FULL" + eol);
        EXPECT_EQ(ini.ReadSection("Backups"), (std::vector<std::string>{"Daily", "Weekly"}));
        EXPECT_EQ(ini.ReadString("daily", "TYPE"), "FULL");
    }
}

TEST(IniFile, ReadsAVeryLongSectionWhole) {
    std::string text = "[Backups]\n";
    for (int i = 0; i < 2000; ++i)
        text += "Job number " + std::to_string(i) + " with a rather long name to fill the buffer\n";
    IniFile ini;
    ini.Parse(text);
    const auto lines = ini.ReadSection("Backups");
    ASSERT_EQ(lines.size(), 2000u);
    EXPECT_EQ(lines.back(), "Job number 1999 with a rather long name to fill the buffer");
}

TEST(IniFile, KeyReadTrimsAndRemovesOnePairOfQuotes) {
    IniFile ini;
    ini.Parse("[s]\nplain =  value  \nquoted=\"Tomorrow at \"\ninner=say \"hi\"\nempty=\n");
    EXPECT_EQ(ini.ReadString("s", "plain"), "value");
    EXPECT_EQ(ini.ReadString("s", "quoted"), "Tomorrow at ");
    EXPECT_EQ(ini.ReadString("s", "inner"), "say \"hi\"");
    EXPECT_EQ(ini.ReadString("s", "empty", "dflt"), "");
    EXPECT_EQ(ini.ReadString("s", "missing", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("nosection", "plain", "dflt"), "dflt");
}

TEST(IniFile, WritesKeysInPlaceAndAppendsNewOnes) {
    IniFile ini;
    ini.Parse("; comment\n[A]\nx=1\ny=2\n\n[B]\nz=3\n");
    ini.WriteString("a", "X", "10");
    ini.WriteString("A", "w", "4");
    ini.WriteString("C", "k", "v");
    EXPECT_TRUE(ini.DeleteKey("B", "z"));
    EXPECT_FALSE(ini.DeleteKey("B", "z"));
    EXPECT_EQ(ini.Serialize("\n"), "; comment\n[A]\nX=10\ny=2\nw=4\n\n[B]\n[C]\nk=v\n");
}

TEST(IniFile, SaveReplacesTheFileWithoutLeavingTemporaries) {
    TempHome home;
    IniFile ini;
    ini.Parse("[A]\nx=1\n");
    ASSERT_TRUE(ini.Save(home.File("f.ini"), 0600));
    EXPECT_EQ(home.Read("f.ini"), "[A]\r\nx=1\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(home.File("f.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ListFileNames(home.Path()), std::vector<std::string>{"f.ini"});
}

TEST(IniFile, MissingFileReadsAsEmpty) {
    TempHome home;
    IniFile ini;
    EXPECT_TRUE(ini.Load(home.File("nothing.ini")));
    EXPECT_TRUE(ini.ReadSection("Backups").empty());
}

TEST(DateTime, ZeroDateIsThirtiethDecember1899) {
    const DateTime zero = DateTime::ZeroDate();
    EXPECT_EQ(zero.Year(), 1899);
    EXPECT_EQ(zero.Month(), 12);
    EXPECT_EQ(zero.Day(), 30);
    EXPECT_EQ(zero.Format("yyyyMMddHHmm"), "189912300000");
    EXPECT_EQ(*DateTime::FromParts(1899, 12, 30), zero);
    // 1 January 1900 is day 2 of the date system.
    EXPECT_EQ(DateTime::FromParts(1900, 1, 1)->SerialSeconds(), 2 * 86400);
}

TEST(DateTime, KnowsWeekdaysAndCalendarEdges) {
    EXPECT_EQ(DateTime::FromParts(2005, 3, 1)->IsoWeekday(), 2);  // a Tuesday
    EXPECT_EQ(DateTime::FromParts(2026, 12, 5)->IsoWeekday(), 6); // a Saturday
    EXPECT_TRUE(DateTime::FromParts(2024, 2, 29).has_value());
    EXPECT_FALSE(DateTime::FromParts(2025, 2, 29).has_value());
    EXPECT_FALSE(DateTime::FromParts(2025, 13, 1).has_value());
    EXPECT_FALSE(DateTime::FromParts(2025, 1, 1, 24, 0).has_value());
    const DateTime late = *DateTime::FromParts(2025, 12, 31, 23, 40);
    EXPECT_EQ(late.AddSeconds(3600).Format("yyyy-MM-dd HH:mm"), "2026-01-01 00:40");
}

TEST(TextConvert, LeadingNumberIsLenientStrictNumberIsNot) {
    EXPECT_EQ(LeadingNumber("  12abc"), 12);
    EXPECT_EQ(LeadingNumber("abc"), 0);
    EXPECT_EQ(LeadingNumber("-3.5"), -3.5);
    EXPECT_FALSE(StrictNumber("12abc").has_value());
    EXPECT_FALSE(StrictNumber("").has_value());
    EXPECT_EQ(*StrictInteger(" 1000 "), 1000);
    EXPECT_EQ(ShortestDecimal(5000000000.0), "5000000000");
    EXPECT_EQ(ShortestDecimal(0), "0");
    EXPECT_EQ(ShortestDecimal(1.5), "1.5");
}
