#include "i18n/Catalogue.h"
#include "i18n/BuiltinMessages.h"
#include "i18n/FormatSize.h"
#include "platform/IniFile.h"
#include "platform/ProgramFolder.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>
#include <regex>
#include <set>

namespace {

const std::string kLanguages = std::string(TIDEVAULT_SOURCE_DIR) + "/Languages/";

std::multiset<std::string> Placeholders(const std::string& text) {
    static const std::regex pattern("[%&][dstihfp12]");
    std::multiset<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
         it != std::sregex_iterator(); ++it)
        found.insert(it->str());
    return found;
}

class Catalogue : public ::testing::Test {
protected:
    void TearDown() override {
        LoadMessageCatalogue("");
        SetProgramFolder("");
    }
    TempHome home;
};

} // namespace

TEST_F(Catalogue, LanguageFileOverlaysAndEmptyValuesKeepEnglish) {
    home.Write("x.lng", "[msgStrings]\nstrMsgPause=Halt\nstrMsgContinue=\n"
                        "strMsgTodayAt=\"Heute um \"\nstrMsgUnknownKey=ignored\n");
    LoadMessageCatalogue(home.File("x.lng"));
    EXPECT_EQ(GetMsg("strMsgPause"), "Halt");
    EXPECT_EQ(GetMsg("strMsgContinue"), "Continue");
    EXPECT_EQ(GetMsg("strMsgTodayAt"), "Heute um ");
    EXPECT_EQ(GetMsg("strMsgUnknownKey"), "");
    EXPECT_EQ(GetMsg("strmsgpause"), ""); // keys are case-sensitive
    // Reloading starts again from the built-in texts.
    LoadMessageCatalogue(home.File("missing.lng"));
    EXPECT_EQ(GetMsg("strMsgPause"), "Pause");
}

TEST_F(Catalogue, LanguageFilesCarryEveryKeyAndKeepThePlaceholders) {
    IniFile english;
    IniFile german;
    ASSERT_TRUE(english.Load(kLanguages + "english.lng"));
    ASSERT_TRUE(german.Load(kLanguages + "german.lng"));
    ASSERT_EQ(english.ReadSection("msgStrings").size(), BuiltinMessages().size());
    int translated = 0;
    for (const BuiltinMessage& m : BuiltinMessages()) {
        const std::string key(m.key);
        EXPECT_EQ(english.ReadString("msgStrings", key), m.text) << key;
        const std::string text = german.ReadString("msgStrings", key);
        EXPECT_FALSE(text.empty()) << key;
        EXPECT_EQ(Placeholders(text), Placeholders(std::string(m.text))) << key;
        translated += text != m.text;
    }
    EXPECT_GT(translated, static_cast<int>(BuiltinMessages().size()) * 9 / 10);
    LoadMessageCatalogue(kLanguages + "german.lng");
    EXPECT_EQ(GetMsg("strMsgQuitAsk"), "Möchten Sie das Programm wirklich beenden?");
}

TEST_F(Catalogue, LanguageNameFallsBackToEnglishFile) {
    SetProgramFolder(home.Path());
    home.Write("Languages/german.lng", "[msgStrings]\n");
    EXPECT_EQ(LanguageFileFor("german"), home.File("Languages/german.lng"));
    EXPECT_EQ(LanguageFileFor("klingon"), home.File("Languages/english.lng"));
}

TEST(Placeholders, AreReplacedInOnePassNeverInsideWhatAValueBroughtIn) {
    const struct {
        const char* text;
        std::string_view d, t;
        const char* expected;
    } cases[] = {
        {"Backup of %d failed!", "Daily", "", "Backup of Daily failed!"},
        {"Backup %d terminated normally at %t!", "50%t", "21:30",
         "Backup 50%t terminated normally at 21:30!"},
        {"OK: Copy to %d", "/home/%d/%t%", "x", "OK: Copy to /home/%d/%t%"},
        {"%d%d%t", "%t", "%d", "%t%t%d"},
        {"no placeholder, 100%", "x", "y", "no placeholder, 100%"},
        {"%", "x", "y", "%"},
        {"%D is not %d", "x", "y", "%D is not x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FillPlaceholders(c.text, {{"%d", c.d}, {"%t", c.t}}), c.expected) << c.text;
    LoadMessageCatalogue("");
    EXPECT_EQ(GetMsg("strMsgBackupFailed", "%d", "a %d b"), "Backup of a %d b failed!");
}

TEST(SizeText, ShowsTheLargestUnitThatHoldsMoreThanOne) {
    const struct {
        std::int64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0 bytes"},
        {1023, "1023 bytes"},
        {1024, "1024 bytes"}, // strictly more than one Kb
        {1025, "1.00 Kb"},
        {1536, "1.50 Kb"},
        {1048575, "1,024.00 Kb"},
        {1048576, "1048576 bytes"}, // 1 Mb with nothing below it
        {1048577, "1.00 Mb"},
        {5 * 1048576 + 524288, "5.50 Mb"},
        {1073741823, "1,024.00 Mb"},
        {1073741824, "1073741824 bytes"},
        {1073741825, "1.00 Gb"},
        {1099511627776, "1,024.00 Gb"}, // past 32 bits
        {5 * 1099511627776LL, "5,120.00 Gb"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatSize(c.bytes), c.text) << c.bytes;
}
