#include "cli/CliProcess.h"
#include "platform/FileSystem.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

namespace {

const std::string kJobs = "[Backups]\r\n"
                          "Hourly\r\n"
                          "Nightly\r\n"
                          "Remote\r\n"
                          "Once\r\n"
                          "\r\n"
                          "[Hourly]\r\n"
                          "Storage=LOC\r\n"
                          "Destination=/backup/hourly\r\n"
                          "Type=FULL\r\n"
                          "Compress=ZIP\r\n"
                          "Status=1\r\n"
                          "OKLast=202612050930\r\n"
                          "Schedule=1,202601010000,015\r\n"
                          "[Nightly]\r\n"
                          "Storage=LOC\r\n"
                          "Destination=/backup/nightly\r\n"
                          "Type=INCR\r\n"
                          "Compress=NOT\r\n"
                          "Status=2\r\n"
                          "OKLast=189912300000\r\n"
                          "Schedule=2,202601010000,127,2130\r\n"
                          "[Remote]\r\n"
                          "Storage=FTP\r\n"
                          "Hostname=nas.local\r\n"
                          "Port=21\r\n"
                          "Pav=PASV\r\n"
                          "Destination=/srv/backup\r\n"
                          "Type=FULL\r\n"
                          "Compress=NOT\r\n"
                          "Status=0\r\n"
                          "Schedule=0\r\n"
                          "[Once]\r\n"
                          "Storage=LOC\r\n"
                          "Destination=/backup/once\r\n"
                          "Type=FULL\r\n"
                          "Compress=NOT\r\n"
                          "Status=3\r\n"
                          "Schedule=4,202612010800,000,0800\r\n";

} // namespace

TEST(ListCommand, ShowsEveryJobWithTheMainWindowColumnsAsAtTheGivenMoment) {
    TempHome home;
    home.Write("backups.ini", kJobs);
    const CliResult r = RunCliProcess({"--home", home.Path(), "list", "--at", "2026-12-05 23:50"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Hourly\tFull(Compressed)\tTomorrow at 0:15\t12/05/26 09:30:00\t/backup/hourly\t1\n"
              "Nightly\tIncremental\tSunday, Dec 06 at 21:30\tNever\t/backup/nightly\t2\n"
              "Remote\tFull\tNot scheduled\tNever\tftp://nas.local:21/srv/backup\t0\n"
              "Once\tFull\tNot scheduled\tNever\t/backup/once\t3\n");
    // list neither takes the lock's staging folder nor rewrites anything.
    EXPECT_FALSE(FolderExists(home.File("temp")));
    EXPECT_EQ(home.Read("backups.ini"), kJobs);
}

TEST(ListCommand, ReadsTheProgramFolderFromTheEnvironment) {
    TempHome home;
    home.Write("backups.ini", kJobs);
    const CliResult r =
        RunCliProcess({"list", "--at", "2026-12-05 10:00"}, {"TIDEVAULT_HOME=" + home.Path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Hourly\tFull(Compressed)\tToday at11:15\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Nightly\tIncremental\tToday at21:30\t"), std::string::npos) << r.out;
}

TEST(ListCommand, MissingJobListListsNothing) {
    TempHome home;
    const CliResult r = RunCliProcess({"--home", home.Path(), "list"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(FileExists(home.File("backups.ini")));
}

TEST(ListCommand, BrokenJobListFailsStartUpAndIsLeftUntouched) {
    TempHome home;
    const std::string broken = "[Backups]\nA\n[A]\nStorage=LOC\nSplit=big\n";
    home.Write("backups.ini", broken);
    const CliResult r = RunCliProcess({"--home", home.Path(), "list"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("Could not initialize system variables! Quitting ...\n", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("Split=big"), std::string::npos);
    EXPECT_EQ(home.Read("backups.ini"), broken);
    EXPECT_FALSE(FileExists(home.File("backups.ini.bak")));
}

TEST(ListCommand, UsesTheChosenLanguage) {
    TempHome home;
    home.Write("backups.ini", kJobs);
    home.Write("settings.ini", "[Backup\\General Settings]\nLanguage=german\n");
    home.Write("Languages/german.lng",
               "[msgStrings]\nstrMsgNotSched=Nicht geplant\nstrMsgFull=Vollständig\n");
    const CliResult r = RunCliProcess({"--home", home.Path(), "list", "--at", "2026-12-05 10:00"});
    EXPECT_NE(r.out.find("Remote\tVollständig\tNicht geplant\t"), std::string::npos) << r.out;
}

TEST(ListCommand, UsageErrorsExitWithTwo) {
    TempHome home;
    EXPECT_EQ(RunCliProcess({"--home", home.Path()}).status, 2);
    EXPECT_EQ(RunCliProcess({"--home", home.Path(), "frobnicate"}).status, 2);
    const CliResult bad = RunCliProcess({"--home", home.Path(), "list", "--at", "tomorrow"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("usage:"), std::string::npos);
}
