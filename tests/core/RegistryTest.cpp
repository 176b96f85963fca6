#include "core/Registry.h"
#include "support/ProgramFolderSetup.h"

using SettingsStore = RunFixture;

TEST_F(SettingsStore, ValuesLiveInTheirSectionAndABlankTextDeletesOne) {
    EXPECT_EQ(GetRegSetting("Backup", "General Settings", "Language", "english"), "english");
    ASSERT_TRUE(SaveRegSetting("Backup", "General Settings", "HideWindowOnStart", "0"));
    EXPECT_EQ(GetRegSetting("Backup", "General Settings", "hidewindowonstart", "1"), "0");
    EXPECT_EQ(home.Read("settings.ini"), "[Backup\\General Settings]\nHideWindowOnStart=0\n");
    struct stat st {};
    ASSERT_EQ(::stat(home.File("settings.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    SaveRegSetting("Backup", "masks", "imask01", "*.doc");
    SaveRegSetting("Backup", "masks", "emask01", " *.tmp "); // kept with its blanks
    EXPECT_EQ(GetRegSetting("Backup", "masks", "imask01"), "*.doc");
    EXPECT_EQ(GetRegSetting("Backup", "masks", "emask01"), " *.tmp ");
    EXPECT_EQ(GetRegSetting("Backup", "masks", "HideWindowOnStart", "none"), "none");
    ASSERT_TRUE(SaveRegSetting("Backup", "General Settings", "HideWindowOnStart", "   "));
    EXPECT_EQ(GetRegSetting("Backup", "General Settings", "HideWindowOnStart", "1"), "1");
    EXPECT_EQ(GetRegSetting("Backup", "masks", "imask01"), "*.doc");
}
