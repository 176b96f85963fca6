#include "platform/IniFile.h"
#include "platform/DateTime.h"

#include <gtest/gtest.h>

// Reading is pinned through the job list, the catalogue and the settings;
// here what only in-place writing shows.
TEST(IniFile, WritesKeysInPlaceKeepingEverythingElseAndReadsSectionsWhole) {
    IniFile ini;
    ini.Parse("\xEF\xBB\xBF; comment\r\n[A]\r\nx=1\r\n; note\r\ny=2\r\n\r\n[B]\nz=3\n");
    ini.WriteString("a", "X", "10");
    ini.WriteString("A", "w", "4");
    ini.WriteString("C", "k", "v");
    EXPECT_TRUE(ini.DeleteKey("B", "z"));
    EXPECT_FALSE(ini.DeleteKey("B", "z"));
    ini.Lines("b")->push_back("raw");
    EXPECT_EQ(ini.Lines("missing"), nullptr);
    EXPECT_EQ(ini.Serialize("\n"),
              "; comment\n[A]\nX=10\n; note\ny=2\nw=4\n\n[B]\nraw\n[C]\nk=v\n");
    // Keys are read trimmed and sections whole, however long.
    std::string text = "[s]\nplain =  value  \ninner=say \"hi\"\n[long]\n";
    for (int i = 0; i < 2000; ++i)
        text += "line " + std::to_string(i) + " long enough to pass any fixed buffer\n";
    ini.Parse(text);
    EXPECT_EQ(ini.ReadString("S", "PLAIN"), "value");
    EXPECT_EQ(ini.ReadString("s", "inner"), "say \"hi\"");
    ASSERT_EQ(ini.ReadSection("long").size(), 2000u);
    EXPECT_EQ(ini.ReadSection("long").back(), "line 1999 long enough to pass any fixed buffer");
    // Dates, read through the job list's values: day zero is 30 December 1899, hours end at 23.
    EXPECT_EQ(DateTime::FromParts(1900, 1, 1)->SerialSeconds(), 2 * 86400);
    EXPECT_FALSE(DateTime::FromParts(2025, 1, 1, 24, 0).has_value());
}
