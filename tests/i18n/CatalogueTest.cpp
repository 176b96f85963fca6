#include "i18n/Catalogue.h"
#include "i18n/BuiltinMessages.h"
#include "platform/IniFile.h"
#include "platform/ProgramFolder.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>
#include <regex>
#include <set>

namespace {

const std::string kSourceDir = TIDEVAULT_SOURCE_DIR;

class Catalogue : public ::testing::Test {
protected:
    void TearDown() override { LoadMessageCatalogue(""); }
    TempHome home;
};

std::multiset<std::string> Placeholders(const std::string& text) {
    static const std::regex pattern("[%&][dstihfp12]");
    std::multiset<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
         it != std::sregex_iterator(); ++it)
        found.insert(it->str());
    return found;
}

} // namespace

TEST_F(Catalogue, BuiltInTextsAreExactIncludingOddSpellingAndBlanks) {
    LoadMessageCatalogue(home.File("missing.lng"));
    EXPECT_EQ(GetMsg("strMsgTomorrowAt"), "Tomorrow at ");
    EXPECT_EQ(GetMsg("strMsgTodayAt"), "Today at");
    EXPECT_EQ(GetMsg("strMsgFilesStored"), "Backup files stored:  ");
    EXPECT_EQ(GetMsg("strMsgFilesNotStored"), "Not stored:   ");
    EXPECT_EQ(GetMsg("strMsgContinueIn"), "   continue in %d at: %p");
    EXPECT_EQ(GetMsg("strMsgBakupFinishedOk"), "Backup of %d finished succesfully!");
    EXPECT_EQ(GetMsg("strMsgRequestPWDel"), "Requesting  password for deleting %d...");
    EXPECT_EQ(GetMsg("strMsgSystemVarsError"),
              "Could not initialize system variables! Quitting ...");
    EXPECT_EQ(GetMsg("strMsgRFToOrigQ"), "Do you want to restore files to original folder?");
    // New keys are appended after the original 101.
    EXPECT_GE(BuiltinMessages().size(), 101u);
    EXPECT_EQ(BuiltinMessages().front().key, "strMsgRealyCancel");
    EXPECT_EQ(BuiltinMessages()[100].key, "strMsgRFToOrigQ");
}

TEST_F(Catalogue, UnknownOrWrongCaseKeyGivesEmptyText) {
    LoadMessageCatalogue("");
    EXPECT_EQ(GetMsg("strMsgNoSuchKey"), "");
    EXPECT_EQ(GetMsg("strmsgpause"), "");
    EXPECT_EQ(GetMsg("strMsgPause"), "Pause");
}

TEST_F(Catalogue, LanguageFileOverlaysAndEmptyValuesKeepEnglish) {
    home.Write("x.lng", "[msgStrings]\nstrMsgPause=Halt\nstrMsgContinue=\n"
                        "strMsgTodayAt=\"Heute um \"\nstrMsgUnknownKey=ignored\n");
    LoadMessageCatalogue(home.File("x.lng"));
    EXPECT_EQ(GetMsg("strMsgPause"), "Halt");
    EXPECT_EQ(GetMsg("strMsgContinue"), "Continue");
    EXPECT_EQ(GetMsg("strMsgTodayAt"), "Heute um ");
    EXPECT_EQ(GetMsg("strMsgUnknownKey"), "");
    // Reloading starts again from the built-in texts.
    LoadMessageCatalogue(home.File("missing.lng"));
    EXPECT_EQ(GetMsg("strMsgPause"), "Pause");
}

TEST_F(Catalogue, PlaceholderReplacementIsPlainText) {
    LoadMessageCatalogue("");
    EXPECT_EQ(GetMsg("strMsgBackupFailed", "%d", "Daily"), "Backup of Daily failed!");
    EXPECT_EQ(GetMsg("strMsgBackupItemsLoaded", "%d", "3"), "3 backup items loaded!");
}

TEST_F(Catalogue, EnglishFileCarriesEveryKeyWithItsExactText) {
    IniFile english;
    ASSERT_TRUE(english.Load(kSourceDir + "/Languages/english.lng"));
    const auto lines = english.ReadSection("msgStrings");
    ASSERT_EQ(lines.size(), BuiltinMessages().size());
    std::size_t i = 0;
    for (const BuiltinMessage& m : BuiltinMessages()) {
        EXPECT_EQ(lines[i++].substr(0, m.key.size() + 1), std::string(m.key) + "=");
        EXPECT_EQ(english.ReadString("msgStrings", std::string(m.key)), m.text) << m.key;
    }
}

TEST_F(Catalogue, GermanTranslationIsCompleteAndKeepsPlaceholders) {
    IniFile german;
    ASSERT_TRUE(german.Load(kSourceDir + "/Languages/german.lng"));
    int differing = 0;
    for (const BuiltinMessage& m : BuiltinMessages()) {
        const std::string text = german.ReadString("msgStrings", std::string(m.key));
        EXPECT_FALSE(text.empty()) << m.key;
        EXPECT_EQ(Placeholders(text), Placeholders(std::string(m.text))) << m.key;
        differing += text != m.text;
    }
    EXPECT_GT(differing, 90);
    LoadMessageCatalogue(kSourceDir + "/Languages/german.lng");
    EXPECT_EQ(GetMsg("strMsgQuitAsk"), "Möchten Sie das Programm wirklich beenden?");
}

TEST_F(Catalogue, LanguageNameFallsBackToEnglishFile) {
    SetProgramFolder(home.Path());
    home.Write("Languages/german.lng", "[msgStrings]\n");
    EXPECT_EQ(LanguageFileFor("german"), home.File("Languages/german.lng"));
    EXPECT_EQ(LanguageFileFor("klingon"), home.File("Languages/english.lng"));
    SetProgramFolder("");
}
