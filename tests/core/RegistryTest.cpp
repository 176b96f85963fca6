#include "core/Registry.h"
#include "platform/ProgramFolder.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override { SetProgramFolder(home.Path()); }
    void TearDown() override { SetProgramFolder(""); }
    TempHome home;
};

} // namespace

TEST_F(SettingsStore, MissingFileSectionOrValueGivesTheDefault) {
    EXPECT_EQ(GetRegSetting("Backup", "General Settings", "Language", "english"), "english");
    EXPECT_EQ(GetRegSetting("Backup", "General Settings", "Language"), "");
}

TEST_F(SettingsStore, SavedValueLandsInTheApplicationSection) {
    ASSERT_TRUE(SaveRegSetting("Backup", "General Settings", "HideWindowOnStart", "0"));
    EXPECT_EQ(GetRegSetting("Backup", "General Settings", "hidewindowonstart", "1"), "0");
    EXPECT_EQ(home.Read("settings.ini"), "[Backup\\General Settings]\nHideWindowOnStart=0\n");
    struct stat st {};
    ASSERT_EQ(::stat(home.File("settings.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(SettingsStore, BlankTextDeletesTheValueSoTheDefaultReturns) {
    SaveRegSetting("Backup", "General Settings", "HideWindowOnStart", "1");
    ASSERT_TRUE(SaveRegSetting("Backup", "General Settings", "HideWindowOnStart", "   "));
    EXPECT_EQ(GetRegSetting("Backup", "General Settings", "HideWindowOnStart", "0"), "0");
}

TEST_F(SettingsStore, SectionsAreKeptApartAndOtherValuesSurvive) {
    SaveRegSetting("Backup", "masks", "imask01", "*.doc");
    SaveRegSetting("Backup", "General Settings", "Language", "german");
    SaveRegSetting("Backup", "masks", "emask01", " *.tmp ");
    EXPECT_EQ(GetRegSetting("Backup", "masks", "imask01"), "*.doc");
    EXPECT_EQ(GetRegSetting("Backup", "masks", "emask01"), " *.tmp ");
    EXPECT_EQ(GetRegSetting("Backup", "masks", "Language", "none"), "none");
    EXPECT_EQ(GetRegSetting("Backup", "General Settings", "Language"), "german");
}
