#include "core/ActivityLog.h"
#include "core/Registry.h"
#include "support/ProgramFolderSetup.h"

#include <filesystem>

namespace {

const std::string kStamp = "[2026 Dec 05 10:00:00]-"; // the fixture's clock

class ActivityLog : public RunFixture {
protected:
    std::string Log(const std::string& name = "tidevault.log") { return home.Read("logs/" + name); }
    unsigned Mode(const std::string& name) {
        return static_cast<unsigned>(std::filesystem::status(home.File(name)).permissions());
    }
};
using SettingsStore = ActivityLog;

} // namespace

TEST_F(ActivityLog, WritesOneStampedRecordPerCallPrivatelyAndListsEachLine) {
    SetStatusText("Searching ..."); // transient: the status bar only
    EXPECT_EQ(host.statusTexts, std::vector<std::string>{"Searching ..."});
    EXPECT_EQ(host.yields, 1);
    EXPECT_FALSE(FileExists(home.File("logs/tidevault.log")));
    for (const char* text : {"Backup of Documents finished succesfully!", "a\r\nb", "   "})
        WriteLog(text);
    EXPECT_EQ(Log(), kStamp + "Backup of Documents finished succesfully!\r\n" + kStamp +
                         "a\r\nb\r\n" + kStamp + "   \r\n");
    // A multi-line message is one record but a list entry per line; a blank one is not listed.
    EXPECT_EQ(host.activity,
              (std::vector<std::string>{kStamp + "Backup of Documents finished succesfully!",
                                        kStamp + "a", kStamp + "b"}));
    EXPECT_EQ(host.lastLogLines.back(), "b");
    // A file's record is listed at once and reaches the file before any later record.
    WriteFileRecord("f1 ok");
    EXPECT_EQ(host.activity.back(), kStamp + "f1 ok");
    WriteLog("failed");
    EXPECT_EQ(Log().substr(Log().size() - 2 * kStamp.size() - 15),
              kStamp + "f1 ok\r\n" + kStamp + "failed\r\n");
    WriteFileRecord("f2 ok");
    FlushLog();
    EXPECT_EQ(Log().substr(Log().size() - kStamp.size() - 7), kStamp + "f2 ok\r\n");
    // Paths, hosts and user names are its owner's alone.
    EXPECT_EQ(Mode("logs"), 0700u);
    EXPECT_EQ(Mode("logs/tidevault.log"), 0600u);
}

TEST_F(ActivityLog, RotatesPastFiveMillionBytesToTheFirstFreeNumberOrKeepsGrowingWhenNoneIsFree) {
    // Left readable to all, as an earlier version created them.
    home.Write("logs/tidevault.log", std::string(5000000, 'x'));
    std::filesystem::permissions(home.File("logs"), std::filesystem::perms(0755));
    std::filesystem::permissions(home.File("logs/tidevault.log"), std::filesystem::perms(0644));
    WriteLog("one more"); // exactly five million is not yet past
    EXPECT_FALSE(FileExists(home.File("logs/tidevault.log001")));
    EXPECT_EQ(Log().size(), 5000000u + kStamp.size() + 10);
    WriteLog("new");
    EXPECT_EQ(Log("tidevault.log001").size(), 5000000u + kStamp.size() + 10);
    EXPECT_EQ(Log(), kStamp + "new\r\n");
    home.Write("logs/tidevault.log", std::string(5000001, 'x'));
    WriteLog("newer");
    EXPECT_EQ(Log("tidevault.log002").size(), 5000001u);
    EXPECT_EQ(Log(), kStamp + "newer\r\n");
    for (const char* name :
         {"logs/tidevault.log", "logs/tidevault.log001", "logs/tidevault.log002"})
        EXPECT_EQ(Mode(name), 0600u) << name;
    EXPECT_EQ(Mode("logs"), 0700u);
    // When all 999 names are taken the log keeps growing and loses nothing.
    for (int n = 1001; n <= 1999; ++n) // "tidevault.log001" and on
        home.Write("logs/tidevault.log" + std::to_string(n).substr(1),
                   "old " + std::to_string(n % 1000));
    const std::string big(5000001, 'x');
    home.Write("logs/tidevault.log", big);
    WriteLog("kept");
    EXPECT_EQ(Log(), big + kStamp + "kept\r\n");
    EXPECT_EQ(Log("tidevault.log999"), "old 999");
    EXPECT_EQ(Log("tidevault.log001"), "old 1");
}

TEST_F(SettingsStore, ValuesLiveInTheirSectionAndABlankTextDeletesOne) {
    EXPECT_EQ(GetRegSetting("Backup", "General Settings", "Language", "english"), "english");
    ASSERT_TRUE(SaveRegSetting("Backup", "General Settings", "HideWindowOnStart", "0"));
    EXPECT_EQ(GetRegSetting("Backup", "General Settings", "hidewindowonstart", "1"), "0");
    EXPECT_EQ(home.Read("settings.ini"), "[Backup\\General Settings]\nHideWindowOnStart=0\n");
    EXPECT_EQ(Mode("settings.ini"), 0600u);
    SaveRegSetting("Backup", "masks", "imask01", "*.doc");
    SaveRegSetting("Backup", "masks", "emask01", " *.tmp "); // kept with its blanks
    EXPECT_EQ(GetRegSetting("Backup", "masks", "imask01"), "*.doc");
    EXPECT_EQ(GetRegSetting("Backup", "masks", "emask01"), " *.tmp ");
    EXPECT_EQ(GetRegSetting("Backup", "masks", "HideWindowOnStart", "none"), "none");
    ASSERT_TRUE(SaveRegSetting("Backup", "General Settings", "HideWindowOnStart", "   "));
    EXPECT_EQ(GetRegSetting("Backup", "General Settings", "HideWindowOnStart", "1"), "1");
    EXPECT_EQ(GetRegSetting("Backup", "masks", "imask01"), "*.doc");
}
