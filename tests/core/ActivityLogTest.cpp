#include "core/ActivityLog.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolder.h"
#include "support/TempHome.h"
#include "support/TestHost.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace {

class ActivityLog : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramFolder(home.Path());
        SetClockOverride(DateTime::FromParts(2005, 3, 1, 21, 30, 5));
    }
    void TearDown() override {
        SetClockOverride(std::nullopt);
        SetProgramFolder("");
    }
    std::string Log(const std::string& name = "tidevault.log") { return home.Read("logs/" + name); }

    TempHome home;
    TestHost host;
};

} // namespace

TEST_F(ActivityLog, WritesOneTimeStampedRecordPerCallAndCreatesTheFolder) {
    WriteLog("Backup of Documents finished succesfully!");
    WriteLog("second");
    EXPECT_EQ(Log(), "[2005 Mar 01 21:30:05]-Backup of Documents finished succesfully!\r\n"
                     "[2005 Mar 01 21:30:05]-second\r\n");
    ASSERT_EQ(host.activity.size(), 2u);
    EXPECT_EQ(host.activity[0], "[2005 Mar 01 21:30:05]-Backup of Documents finished succesfully!");
    EXPECT_EQ(host.lastLogLines.back(), "second");
}

TEST_F(ActivityLog, MultiLineMessageIsTwoListEntriesButOneRecord) {
    WriteLog("a\r\nb");
    EXPECT_EQ(host.activity,
              (std::vector<std::string>{"[2005 Mar 01 21:30:05]-a", "[2005 Mar 01 21:30:05]-b"}));
    EXPECT_EQ(Log(), "[2005 Mar 01 21:30:05]-a\r\nb\r\n");
}

TEST_F(ActivityLog, BlankMessageIsRecordedButNotListed) {
    WriteLog("   ");
    EXPECT_TRUE(host.activity.empty());
    EXPECT_EQ(Log(), "[2005 Mar 01 21:30:05]-   \r\n");
}

TEST_F(ActivityLog, RotatesPastFiveMillionBytesToTheFirstFreeNumber) {
    const std::string big(5000001, 'x');
    home.Write("logs/tidevault.log", big);
    WriteLog("new");
    EXPECT_EQ(Log("tidevault.log001").size(), 5000001u);
    EXPECT_EQ(Log(), "[2005 Mar 01 21:30:05]-new\r\n");

    home.Write("logs/tidevault.log", big);
    WriteLog("newer");
    EXPECT_EQ(Log("tidevault.log002").size(), 5000001u);
    EXPECT_EQ(Log(), "[2005 Mar 01 21:30:05]-newer\r\n");
}

TEST_F(ActivityLog, ExactlyFiveMillionBytesIsNotYetRotated) {
    home.Write("logs/tidevault.log", std::string(5000000, 'x'));
    WriteLog("one more");
    EXPECT_FALSE(FileExists(home.File("logs/tidevault.log001")));
    EXPECT_EQ(Log().size(), 5000000u + std::string("[2005 Mar 01 21:30:05]-one more\r\n").size());
}

TEST_F(ActivityLog, WhenAll999NamesAreTakenTheLogKeepsGrowingAndLosesNothing) {
    for (int n = 1; n <= 999; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "logs/tidevault.log%03d", n);
        home.Write(name, "old " + std::to_string(n));
    }
    const std::string big(5000001, 'x');
    home.Write("logs/tidevault.log", big);
    WriteLog("kept");
    EXPECT_EQ(Log(), big + "[2005 Mar 01 21:30:05]-kept\r\n");
    EXPECT_EQ(Log("tidevault.log999"), "old 999");
    EXPECT_EQ(Log("tidevault.log001"), "old 1");
}

TEST_F(ActivityLog, StatusTextGoesToTheStatusBarOnlyAndYields) {
    SetStatusText("Searching ...");
    EXPECT_EQ(host.statusTexts, std::vector<std::string>{"Searching ..."});
    EXPECT_EQ(host.yields, 1);
    EXPECT_TRUE(host.activity.empty());
    EXPECT_FALSE(FileExists(home.File("logs/tidevault.log")));
}
