#include "i18n/Catalogue.h"
#include "i18n/BuiltinMessages.h"
#include "i18n/FormatSize.h"
#include "platform/IniFile.h"
#include "platform/ProgramFolder.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>

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

TEST_F(Catalogue, LanguageFilesOverlayEnglishAndTheShippedOnesCarryEveryKey) {
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
    // A language without its file falls back to English.
    SetProgramFolder(home.Path());
    home.Write("Languages/german.lng", "[msgStrings]\n");
    EXPECT_EQ(LanguageFileFor("german"), home.File("Languages/german.lng"));
    EXPECT_EQ(LanguageFileFor("German"), home.File("Languages/german.lng"));
    EXPECT_EQ(LanguageFileFor("klingon"), home.File("Languages/english.lng"));
    // The shipped language files carry every key and keep the placeholders.
    IniFile english;
    IniFile german;
    ASSERT_TRUE(english.Load(kLanguages + "english.lng"));
    ASSERT_TRUE(german.Load(kLanguages + "german.lng"));
    ASSERT_EQ(english.ReadSection("msgStrings").size(), BuiltinMessages().size());
    int translated = 0;
    std::set<std::string> keys;
    for (const BuiltinMessage& m : BuiltinMessages()) {
        const std::string key(m.key);
        EXPECT_TRUE(keys.insert(key).second) << key << " is defined twice";
        EXPECT_EQ(english.ReadString("msgStrings", key), m.text) << key;
        const std::string text = german.ReadString("msgStrings", key);
        EXPECT_FALSE(text.empty()) << key;
        EXPECT_EQ(Placeholders(text), Placeholders(std::string(m.text))) << key;
        translated += text != m.text;
    }
    EXPECT_GT(translated, static_cast<int>(BuiltinMessages().size()) * 9 / 10);
    // Every window's texts, key for key: a key missing in German stays English on screen.
    std::istringstream lines(ReadTestFile(kLanguages + "english.lng"));
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] != '[' || line == "[msgStrings]")
            continue;
        const std::string section = line.substr(1, line.find(']') - 1);
        for (const std::string& entry : english.ReadSection(section)) {
            const std::string key = entry.substr(0, entry.find('='));
            EXPECT_FALSE(german.ReadString(section, key).empty()) << section << " " << key;
        }
    }
    LoadMessageCatalogue(kLanguages + "german.lng");
    EXPECT_EQ(GetMsg("strMsgQuitAsk"), "Möchten Sie das Programm wirklich beenden?");
}

TEST(Placeholders, AreReplacedInOnePassNeverInsideWhatAValueBroughtInAndSizesInOneUnit) {
    // text, %d, %t, expected
    const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
        {"Backup %d terminated normally at %t!", "50%t", "21:30",
         "Backup 50%t terminated normally at 21:30!"},
        {"Copy to %d", "/home/%d/%t%", "x", "Copy to /home/%d/%t%"},
        {"%d%d%t", "%t", "%d", "%t%t%d"},
        {"100%, %D is not %d", "x", "y", "100%, %D is not x"}};
    for (const auto& [text, d, t, expected] : cases)
        EXPECT_EQ(FillPlaceholders(text, {{"%d", d}, {"%t", t}}), expected) << text;
    // Sizes show the largest unit that holds more than one; each unit counts only what lies
    // below the next one up: exactly 1 Mb shows in bytes.
    // clang-format off
    const std::pair<std::int64_t, const char*> sizes[] = {
        {0, "0 bytes"}, {1024, "1024 bytes"}, {1025, "1.00 Kb"}, {1536, "1.50 Kb"},
        {1048575, "1,024.00 Kb"}, {1048576, "1048576 bytes"}, {1048577, "1.00 Mb"},
        {5767168, "5.50 Mb"}, {1073741823, "1,024.00 Mb"}, {1073741824, "1073741824 bytes"},
        {1073741825, "1.00 Gb"}, {5497558138880, "5,120.00 Gb"}};
    // clang-format on
    for (const auto& [bytes, text] : sizes)
        EXPECT_EQ(FormatSize(bytes), text) << bytes;
}
