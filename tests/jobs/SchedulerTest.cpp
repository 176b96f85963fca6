#include "jobs/Scheduler.h"
#include "core/Globals.h"
#include "support/ProgramFolderSetup.h"
#include "support/TestHost.h"

#include <gtest/gtest.h>

namespace {

DateTime At(int y, int mo, int d, int h, int mi, int s = 0) {
    return *DateTime::FromParts(y, mo, d, h, mi, s);
}

clsBackup JobWith(std::uint8_t kind, std::uint8_t data, DateTime start, int hour = 0,
                  int minute = 0) {
    clsBackup job;
    job.sName = "job";
    job.Schedule = clsSchedule{.start = start, .enabled = true, .Data = data, .Tip = kind};
    if (kind != kScheduleHourly)
        job.Schedule->StartHour = At(1899, 12, 30, hour, minute);
    return job;
}

} // namespace

TEST(Schedules, NextStartAndItsColumnTextForEachKind) {
    LoadMessageCatalogue("");
    const DateTime mar1 = At(2005, 3, 1, 8, 0);
    const DateTime jan1 = At(2005, 1, 1, 0, 0);
    const struct {
        clsBackup job;
        DateTime now;
        const char* text;
        const char* next; // empty: left as it was
    } cases[] = {
        // Hourly always takes the next hour's minute, across midnight and month end.
        {JobWith(kScheduleHourly, 30, mar1), At(2005, 3, 7, 10, 29), "Today at11:30",
         "2005-03-07 11:30"},
        {JobWith(kScheduleHourly, 15, mar1), At(2005, 3, 7, 23, 45), "Tomorrow at 0:15",
         "2005-03-08 00:15"},
        // The tomorrow form compares days of the month.
        {JobWith(kScheduleHourly, 15, mar1), At(2005, 3, 31, 23, 45), "Friday, Apr 01 at 0:15",
         "2005-04-01 00:15"},
        // Before its start it waits for the start hour (one more past the hour).
        {JobWith(kScheduleHourly, 30, At(2005, 3, 10, 8, 0)), At(2005, 3, 7, 12, 0),
         "Thursday, Mar 10 at 8:30", "2005-03-10 08:30"},
        {JobWith(kScheduleHourly, 30, At(2005, 3, 10, 8, 20)), At(2005, 3, 7, 12, 0),
         "Thursday, Mar 10 at 9:30", "2005-03-10 09:30"},
        // Daily on Mondays (7 March 2005 is one); no tomorrow form.
        {JobWith(kScheduleDaily, 64, mar1, 21, 30), At(2005, 3, 7, 21, 30), "Today at21:30",
         "2005-03-07 21:30"},
        {JobWith(kScheduleDaily, 64, mar1, 21, 30), At(2005, 3, 7, 21, 30, 20),
         "Monday, Mar 14 at 21:30", "2005-03-14 21:30"},
        {JobWith(kScheduleDaily, 124, mar1, 7, 0), At(2005, 3, 7, 8, 0), "Tuesday, Mar 08 at 07:00",
         "2005-03-08 07:00"},
        {JobWith(kScheduleDaily, 124, mar1, 7, 0), At(2005, 3, 11, 8, 0), "Monday, Mar 14 at 07:00",
         "2005-03-14 07:00"},
        {JobWith(kScheduleDaily, 64, mar1, 21, 30), At(2005, 2, 1, 0, 0), "Monday, Mar 07 at 21:30",
         "2005-03-07 21:30"},
        // The start's own day is past its time of day: the search begins the next day.
        {JobWith(kScheduleDaily, 1, At(2005, 3, 6, 22, 0), 21, 30), At(2005, 3, 1, 0, 0),
         "Sunday, Mar 13 at 21:30", "2005-03-13 21:30"},
        {JobWith(kScheduleDaily, 0, mar1, 21, 30), At(2005, 3, 7, 10, 0), "", ""},
        // Monthly on the 31st: none from 3 February to 6 March; after the day's
        // run time the 32-day window of 1 April holds none either.
        {JobWith(kScheduleMonthly, 30, jan1, 10, 0), At(2005, 2, 3, 9, 0), "", ""},
        {JobWith(kScheduleMonthly, 30, jan1, 10, 0), At(2005, 3, 1, 9, 0),
         "Thursday, Mar 31 at 10:00", "2005-03-31 10:00"},
        {JobWith(kScheduleMonthly, 30, jan1, 10, 0), At(2005, 3, 31, 10, 0, 30), "", ""},
        {JobWith(kScheduleMonthly, 30, jan1, 10, 0), At(2005, 4, 30, 12, 0),
         "Tuesday, May 31 at 10:00", "2005-05-31 10:00"},
        // The editor's "Last day!" is the last day of each month.
        {JobWith(kScheduleMonthly, 31, jan1, 23, 0), At(2024, 2, 3, 9, 0),
         "Thursday, Feb 29 at 23:00", "2024-02-29 23:00"},
        {JobWith(kScheduleMonthly, 31, jan1, 23, 0), At(2005, 4, 30, 23, 30),
         "Tuesday, May 31 at 23:00", "2005-05-31 23:00"},
        {JobWith(kScheduleOnce, 0, At(2005, 3, 10, 14, 0), 14, 0), At(2005, 3, 10, 14, 0),
         "Thursday, Mar 10 at 14:00", "2005-03-10 14:00"},
        {JobWith(kScheduleOnce, 0, At(2005, 3, 10, 14, 0), 14, 0), At(2005, 3, 11, 9, 0),
         "Not scheduled", ""},
        {clsBackup(), At(2005, 3, 7, 9, 0), "Not scheduled", ""},
        {JobWith(9, 5, mar1), At(2005, 3, 7, 9, 0), "", ""},
    };
    const DateTime before = At(2001, 1, 1, 0, 0);
    for (auto c : cases) {
        c.job.nextStart = before;
        EXPECT_EQ(ComputeNextStart(c.job, c.now), c.text) << c.now.Format("yyyy-MM-dd HH:mm:ss");
        EXPECT_EQ(c.job.nextStart.Format("yyyy-MM-dd HH:mm"), *c.next ? c.next : "2001-01-01 00:00")
            << c.text;
    }
    clsBackup disabled = JobWith(kScheduleHourly, 5, mar1);
    disabled.Schedule->enabled = false;
    EXPECT_EQ(ComputeNextStart(disabled, At(2005, 3, 7, 9, 0)), "");
    // A one-time job that ran stays done, even within its own start second.
    clsBackup once = JobWith(kScheduleOnce, 0, At(2005, 3, 10, 14, 0), 14, 0);
    once.nextStart = OneTimeDoneMarker();
    EXPECT_EQ(ComputeNextStart(once, At(2005, 3, 10, 14, 0)), "Not scheduled");
    EXPECT_EQ(once.nextStart, At(1955, 1, 1, 0, 0));
}

TEST(Schedules, ColumnTexts) {
    LoadMessageCatalogue("");
    clsBackup job;
    EXPECT_EQ(CompletedText(job, At(2005, 3, 7, 9, 0)), "Never");
    job.lastOK = At(2005, 3, 1, 21, 30, 5);
    EXPECT_EQ(CompletedText(job, At(2005, 3, 7, 9, 0)), "03/01/05 21:30:05");
    EXPECT_EQ(CompletedText(job, At(2016, 3, 7, 9, 0)), "Never");
    EXPECT_EQ(TypeText(job), "Full");
    job.bIncremental = true;
    job.bZipped = true;
    EXPECT_EQ(TypeText(job), "Incremental(Compressed)");
    job.sDestinationDir = "/backups";
    EXPECT_EQ(DestinationText(job), "/backups");
    job.destFTP = true;
    job.objDestination = clsTidevault{.hostname = "nas.local", .port = 2121};
    EXPECT_EQ(DestinationText(job), "ftp://nas.local:2121/backups");
}

namespace {

class SchedulerTicks : public ::testing::Test {
protected:
    void SetUp() override {
        PrepareProgramFolder(home);
        gBlockSchedule = true;
    }
    void TearDown() override { ReleaseProgramFolder(); }
    std::shared_ptr<clsBackup> Add(const std::string& name, clsBackup job) {
        job.sName = name;
        gBackups.push_back(std::make_shared<clsBackup>(std::move(job)));
        return gBackups.back();
    }
    TickResult TickAt(const DateTime& now) {
        SetClockOverride(now);
        return SchedulerTick(run);
    }
    int Logged(const std::string& text) const {
        return static_cast<int>(
            std::count_if(host.activity.begin(), host.activity.end(), [&](const std::string& line) {
                return line.find(text) != std::string::npos;
            }));
    }
    TempHome home;
    TestHost host;
    std::vector<std::string> ran;
    std::function<void(const std::string&)> run = [this](const std::string& n) {
        ran.push_back(n);
    };
};

} // namespace

TEST_F(SchedulerTicks, JobsDueInTheSameMinuteRunInListOrderInOneTickAndOnlyOnce) {
    auto b = Add("B", JobWith(kScheduleDaily, 127, At(2005, 1, 1, 0, 0), 21, 30));
    auto a = Add("A", JobWith(kScheduleHourly, 30, At(2005, 1, 1, 0, 0)));
    Add("C", JobWith(kScheduleDaily, 127, At(2005, 1, 1, 0, 0), 22, 0));
    auto once = Add("Once", JobWith(kScheduleOnce, 0, At(2005, 3, 7, 21, 30), 21, 30));
    SetClockOverride(At(2005, 3, 7, 20, 40));
    UpdateForm();
    // A run that ends within its start second leaves the refresh in that minute.
    const TickResult tick = TickAt(At(2005, 3, 7, 21, 30, 0));
    EXPECT_TRUE(tick.started);
    EXPECT_EQ(ran, (std::vector<std::string>{"B", "A", "Once"}));
    EXPECT_EQ(host.timerStates, (std::vector<bool>{false, true}));
    EXPECT_EQ(tick.refreshed.size(), 4u);
    EXPECT_EQ(once->nextStart, OneTimeDoneMarker());
    EXPECT_FALSE(TickAt(At(2005, 3, 7, 21, 30, 30)).started);
    EXPECT_EQ(ran.size(), 3u);
    // The refresh moved them to their next occurrence.
    UpdateForm();
    EXPECT_EQ(b->nextStart, At(2005, 3, 8, 21, 30));
    EXPECT_EQ(a->nextStart, At(2005, 3, 7, 22, 30));
    EXPECT_EQ(once->nextStart, OneTimeDoneMarker());
}

TEST_F(SchedulerTicks, AMissedStartIsLoggedOnceAndComputedAnewNeverStartedLate) {
    auto daily = Add("Daily", JobWith(kScheduleDaily, 127, At(2005, 1, 1, 0, 0), 21, 30));
    auto once = Add("Once", JobWith(kScheduleOnce, 0, At(2005, 3, 7, 22, 0), 22, 0));
    SetClockOverride(At(2005, 3, 7, 20, 40));
    UpdateForm();
    // The window is shown with blocking on: the minute passes untouched.
    host.mainWindowVisible = true;
    EXPECT_FALSE(TickAt(At(2005, 3, 7, 21, 30)).started);
    EXPECT_TRUE(host.timerStates.empty());
    host.mainWindowVisible = false;
    // The machine slept through both starts and wakes two days later.
    const TickResult tick = TickAt(At(2005, 3, 9, 8, 0, 12));
    EXPECT_FALSE(tick.started);
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(Logged("Missed the start of Daily at 2005-03-07 21:30"), 1);
    EXPECT_EQ(Logged("Missed the start of Once at 2005-03-07 22:00"), 1);
    EXPECT_EQ(daily->nextStart, At(2005, 3, 9, 21, 30));
    ASSERT_EQ(tick.refreshed.size(), 2u);
    EXPECT_EQ(tick.refreshed[0].start, "Today at21:30");
    EXPECT_EQ(tick.refreshed[1].start, "Not scheduled");
    // Reported once; the new start comes as usual.
    EXPECT_TRUE(TickAt(At(2005, 3, 9, 8, 1)).refreshed.empty());
    EXPECT_TRUE(TickAt(At(2005, 3, 9, 21, 30)).started);
    EXPECT_EQ(ran, std::vector<std::string>{"Daily"});
    EXPECT_EQ(Logged("Missed the start"), 2);
}

TEST_F(SchedulerTicks, AStartWhileARestoreHoldsTheStagingFolderIsSkipped) {
    auto daily = Add("Daily", JobWith(kScheduleDaily, 127, At(2005, 1, 1, 0, 0), 21, 30));
    SetClockOverride(At(2005, 3, 7, 20, 40));
    UpdateForm();
    {
        RestoreStagingClaim restore;
        EXPECT_FALSE(TickAt(At(2005, 3, 7, 21, 30, 5)).started);
    }
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(Logged("Start of Daily skipped: a restore is using the temporary directory!"), 1);
    EXPECT_EQ(daily->nextStart, At(2005, 3, 8, 21, 30));
    TickAt(At(2005, 3, 7, 21, 31));
    EXPECT_EQ(Logged("Missed"), 0);
}
