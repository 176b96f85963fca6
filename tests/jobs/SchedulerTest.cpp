#include "jobs/Scheduler.h"
#include "core/Globals.h"
#include "i18n/Catalogue.h"
#include "platform/Clock.h"
#include "support/TestHost.h"

#include <gtest/gtest.h>

namespace {

DateTime At(int y, int mo, int d, int h, int mi, int s = 0) {
    return *DateTime::FromParts(y, mo, d, h, mi, s);
}

clsBackup JobWith(std::uint8_t kind, std::uint8_t data, DateTime start, int hour = 0,
                  int minute = 0) {
    clsSchedule s;
    s.Tip = kind;
    s.enabled = true;
    s.Data = data;
    s.start = start;
    if (kind != kScheduleHourly)
        s.StartHour = At(1899, 12, 30, hour, minute);
    clsBackup job;
    job.sName = "job";
    job.Schedule = s;
    return job;
}

std::string Next(const clsBackup& job) {
    return job.nextStart.Format("yyyy-MM-dd HH:mm");
}

class Schedules : public ::testing::Test {
protected:
    void SetUp() override { LoadMessageCatalogue(""); }
};

} // namespace

TEST_F(Schedules, HourlyAlwaysTakesTheNextHoursMinute) {
    clsBackup job = JobWith(kScheduleHourly, 30, At(2005, 3, 1, 8, 0));
    EXPECT_EQ(ComputeNextStart(job, At(2005, 3, 7, 10, 29)), "Today at11:30");
    EXPECT_EQ(Next(job), "2005-03-07 11:30");
    EXPECT_EQ(ComputeNextStart(job, At(2005, 3, 7, 10, 30)), "Today at11:30");
    EXPECT_EQ(ComputeNextStart(job, At(2005, 3, 7, 10, 45)), "Today at11:30");
    EXPECT_EQ(ComputeNextStart(job, At(2005, 3, 7, 8, 5)), "Today at9:30");
}

TEST_F(Schedules, HourlyCrossesMidnightAndMonthEnd) {
    clsBackup job = JobWith(kScheduleHourly, 15, At(2005, 3, 1, 8, 0));
    EXPECT_EQ(ComputeNextStart(job, At(2005, 3, 7, 23, 45)), "Tomorrow at 0:15");
    EXPECT_EQ(Next(job), "2005-03-08 00:15");
    // The tomorrow form compares days of the month, so the first of the next
    // month is named by its date.
    EXPECT_EQ(ComputeNextStart(job, At(2005, 3, 31, 23, 45)), "Friday, Apr 01 at 0:15");
    EXPECT_EQ(Next(job), "2005-04-01 00:15");
}

TEST_F(Schedules, HourlyBeforeItsStartWaitsForTheStartHour) {
    clsBackup onTheHour = JobWith(kScheduleHourly, 30, At(2005, 3, 10, 8, 0));
    EXPECT_EQ(ComputeNextStart(onTheHour, At(2005, 3, 7, 12, 0)), "Thursday, Mar 10 at 8:30");
    clsBackup pastTheHour = JobWith(kScheduleHourly, 30, At(2005, 3, 10, 8, 20));
    ComputeNextStart(pastTheHour, At(2005, 3, 7, 12, 0));
    EXPECT_EQ(Next(pastTheHour), "2005-03-10 09:30");
}

TEST_F(Schedules, DailyMovesToTheNextChosenWeekday) {
    clsBackup monday = JobWith(kScheduleDaily, 64, At(2005, 3, 1, 8, 0), 21, 30);
    // 7 March 2005 is a Monday.
    EXPECT_EQ(ComputeNextStart(monday, At(2005, 3, 7, 10, 0)), "Today at21:30");
    EXPECT_EQ(ComputeNextStart(monday, At(2005, 3, 7, 21, 30, 0)), "Today at21:30");
    EXPECT_EQ(ComputeNextStart(monday, At(2005, 3, 7, 21, 30, 20)), "Monday, Mar 14 at 21:30");
    EXPECT_EQ(Next(monday), "2005-03-14 21:30");
    // Tuesday the 8th: no tomorrow form for daily jobs.
    clsBackup weekdays = JobWith(kScheduleDaily, 64 + 32 + 16 + 8 + 4, At(2005, 3, 1, 8, 0), 7, 0);
    EXPECT_EQ(ComputeNextStart(weekdays, At(2005, 3, 7, 8, 0)), "Tuesday, Mar 08 at 07:00");
    EXPECT_EQ(ComputeNextStart(weekdays, At(2005, 3, 11, 8, 0)), "Monday, Mar 14 at 07:00");
}

TEST_F(Schedules, DailyBeforeItsStartAndWithNoWeekday) {
    clsBackup monday = JobWith(kScheduleDaily, 64, At(2005, 3, 1, 8, 0), 21, 30);
    EXPECT_EQ(ComputeNextStart(monday, At(2005, 2, 1, 0, 0)), "Monday, Mar 07 at 21:30");
    clsBackup sunday = JobWith(kScheduleDaily, 1, At(2005, 3, 6, 22, 0), 21, 30);
    // The start's own day is past its time of day: the search begins the next day.
    ComputeNextStart(sunday, At(2005, 3, 1, 0, 0));
    EXPECT_EQ(Next(sunday), "2005-03-13 21:30");

    clsBackup none = JobWith(kScheduleDaily, 0, At(2005, 3, 1, 8, 0), 21, 30);
    none.nextStart = At(2001, 1, 1, 0, 0);
    EXPECT_EQ(ComputeNextStart(none, At(2005, 3, 7, 10, 0)), "");
    EXPECT_EQ(Next(none), "2001-01-01 00:00");
}

TEST_F(Schedules, MonthlyDay31IsNotFoundFromFebruaryButIsInMarch) {
    clsBackup day31 = JobWith(kScheduleMonthly, 30, At(2005, 1, 1, 0, 0), 10, 0);
    day31.nextStart = At(2001, 1, 1, 0, 0);
    EXPECT_EQ(ComputeNextStart(day31, At(2005, 2, 3, 9, 0)), "");
    EXPECT_EQ(Next(day31), "2001-01-01 00:00");
    EXPECT_EQ(ComputeNextStart(day31, At(2005, 3, 1, 9, 0)), "Thursday, Mar 31 at 10:00");
    EXPECT_EQ(ComputeNextStart(day31, At(2005, 3, 31, 9, 0)), "Today at10:00");
    // After the day's run time the 32-day window (1 April - 2 May) holds no
    // 31st: nothing found yet, the finished start stays; by the end of April
    // the window reaches 31 May.
    EXPECT_EQ(ComputeNextStart(day31, At(2005, 3, 31, 10, 0, 30)), "");
    EXPECT_EQ(Next(day31), "2005-03-31 10:00");
    ComputeNextStart(day31, At(2005, 4, 30, 12, 0));
    EXPECT_EQ(Next(day31), "2005-05-31 10:00");
}

TEST_F(Schedules, MonthlyLastDayMeansTheLastDayOfEachMonth) {
    clsBackup last = JobWith(kScheduleMonthly, 31, At(2005, 1, 1, 0, 0), 23, 0);
    ComputeNextStart(last, At(2005, 2, 3, 9, 0));
    EXPECT_EQ(Next(last), "2005-02-28 23:00");
    ComputeNextStart(last, At(2024, 2, 3, 9, 0));
    EXPECT_EQ(Next(last), "2024-02-29 23:00");
    ComputeNextStart(last, At(2005, 4, 30, 23, 30));
    EXPECT_EQ(Next(last), "2005-05-31 23:00");
}

TEST_F(Schedules, OneTimeRunsOnceAtItsStart) {
    clsBackup once = JobWith(kScheduleOnce, 0, At(2005, 3, 10, 14, 0), 14, 0);
    EXPECT_EQ(ComputeNextStart(once, At(2005, 3, 7, 9, 0)), "Thursday, Mar 10 at 14:00");
    EXPECT_EQ(Next(once), "2005-03-10 14:00");
    EXPECT_EQ(ComputeNextStart(once, At(2005, 3, 10, 14, 0)), "Thursday, Mar 10 at 14:00");
    once.nextStart = At(2001, 1, 1, 0, 0);
    EXPECT_EQ(ComputeNextStart(once, At(2005, 3, 11, 9, 0)), "Not scheduled");
    EXPECT_EQ(Next(once), "2001-01-01 00:00");
    // After it ran it stays done, even within its own start second.
    once.nextStart = OneTimeDoneMarker();
    EXPECT_EQ(ComputeNextStart(once, At(2005, 3, 10, 14, 0)), "Not scheduled");
    EXPECT_EQ(Next(once), "1955-01-01 00:00");
}

TEST_F(Schedules, NoScheduleDisabledOrUnknownKind) {
    clsBackup plain;
    plain.nextStart = At(2001, 1, 1, 0, 0);
    EXPECT_EQ(ComputeNextStart(plain, At(2005, 3, 7, 9, 0)), "Not scheduled");
    EXPECT_EQ(Next(plain), "2001-01-01 00:00");
    clsBackup disabled = JobWith(kScheduleHourly, 5, At(2005, 3, 1, 8, 0));
    disabled.Schedule->enabled = false;
    EXPECT_EQ(ComputeNextStart(disabled, At(2005, 3, 7, 9, 0)), "");
    clsBackup odd = JobWith(9, 5, At(2005, 3, 1, 8, 0));
    EXPECT_EQ(ComputeNextStart(odd, At(2005, 3, 7, 9, 0)), "");
}

TEST_F(Schedules, ColumnTexts) {
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
        LoadMessageCatalogue("");
        gBackups.clear();
        gBlockSchedule = true;
    }
    void TearDown() override {
        gBackups.clear();
        SetClockOverride(std::nullopt);
    }
    std::shared_ptr<clsBackup> Add(const std::string& name, clsBackup job) {
        job.sName = name;
        auto p = std::make_shared<clsBackup>(std::move(job));
        gBackups.push_back(p);
        return p;
    }
    TestHost host;
    std::vector<std::string> ran;
    std::function<void(const std::string&)> run = [this](const std::string& n) {
        ran.push_back(n);
    };
};

} // namespace

TEST_F(SchedulerTicks, JobsDueInTheSameMinuteRunInListOrderInOneTick) {
    Add("B", JobWith(kScheduleDaily, 127, At(2005, 1, 1, 0, 0), 21, 30));
    Add("A", JobWith(kScheduleHourly, 30, At(2005, 1, 1, 0, 0)));
    Add("C", JobWith(kScheduleDaily, 127, At(2005, 1, 1, 0, 0), 22, 0));
    SetClockOverride(At(2005, 3, 7, 20, 40));
    UpdateForm();
    SetClockOverride(At(2005, 3, 7, 21, 30, 12));
    EXPECT_TRUE(SchedulerTick(run));
    EXPECT_EQ(ran, (std::vector<std::string>{"B", "A"}));
    EXPECT_EQ(host.timerStates, (std::vector<bool>{false, true}));
    // The refresh after the tick moved both to their next occurrence.
    EXPECT_EQ(gBackups[0]->nextStart, At(2005, 3, 8, 21, 30));
    EXPECT_EQ(gBackups[1]->nextStart, At(2005, 3, 7, 22, 30));
}

TEST_F(SchedulerTicks, VisibleWindowWithBlockingStartsNothing) {
    Add("A", JobWith(kScheduleHourly, 30, At(2005, 1, 1, 0, 0)));
    SetClockOverride(At(2005, 3, 7, 20, 40));
    UpdateForm();
    host.mainWindowVisible = true;
    SetClockOverride(At(2005, 3, 7, 21, 30));
    EXPECT_FALSE(SchedulerTick(run));
    EXPECT_TRUE(ran.empty());
    EXPECT_TRUE(host.timerStates.empty());
    // Once the minute has passed the job is not started afterwards.
    host.mainWindowVisible = false;
    SetClockOverride(At(2005, 3, 7, 21, 31));
    EXPECT_FALSE(SchedulerTick(run));
    EXPECT_TRUE(ran.empty());
    // Without blocking, a visible window does not stop the schedule.
    gBlockSchedule = false;
    host.mainWindowVisible = true;
    UpdateForm();
    SetClockOverride(At(2005, 3, 7, 22, 30));
    EXPECT_TRUE(SchedulerTick(run));
    EXPECT_EQ(ran, std::vector<std::string>{"A"});
}

TEST_F(SchedulerTicks, AJobNeverStartsTwiceInOneMinute) {
    auto once = Add("Once", JobWith(kScheduleOnce, 0, At(2005, 3, 7, 21, 30), 21, 30));
    auto daily = Add("Daily", JobWith(kScheduleDaily, 127, At(2005, 1, 1, 0, 0), 21, 30));
    SetClockOverride(At(2005, 3, 7, 21, 0));
    UpdateForm();
    // A run that ends within its start second leaves the refresh in that minute.
    SetClockOverride(At(2005, 3, 7, 21, 30, 0));
    EXPECT_TRUE(SchedulerTick(run));
    EXPECT_EQ(once->nextStart, OneTimeDoneMarker());
    EXPECT_FALSE(SchedulerTick(run));
    SetClockOverride(At(2005, 3, 7, 21, 30, 30));
    EXPECT_FALSE(SchedulerTick(run));
    EXPECT_EQ(ran, (std::vector<std::string>{"Once", "Daily"}));
    UpdateForm();
    EXPECT_EQ(daily->nextStart, At(2005, 3, 8, 21, 30));
    EXPECT_EQ(once->nextStart, OneTimeDoneMarker());
}
