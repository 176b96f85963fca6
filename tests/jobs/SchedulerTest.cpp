#include "jobs/Scheduler.h"
#include "support/ProgramFolderSetup.h"

#include <cstdio>

namespace {
DateTime At(int y, int mo, int d, int h, int mi, int s = 0) {
    return *DateTime::FromParts(y, mo, d, h, mi, s);
}

// "MM-dd HH:mm[:ss]" in 2005.
DateTime In2005(const char* text) {
    int mo = 0, d = 0, h = 0, mi = 0, s = 0;
    std::sscanf(text, "%d-%d %d:%d:%d", &mo, &d, &h, &mi, &s);
    return At(2005, mo, d, h, mi, s);
}

// `hhmm`: the time of day of kinds 2 to 4; kind 0: no schedule at all.
clsBackup JobWith(std::uint8_t kind, std::uint8_t data, DateTime start, int hhmm = 0) {
    clsBackup job;
    if (kind != 0)
        job.Schedule =
            clsSchedule{start, true, data, kind, At(1899, 12, 30, hhmm / 100, hhmm % 100)};
    return job;
}

class SchedulerTicks : public RunFixture {
protected:
    void SetUp() override { RunFixture::SetUp(), gBlockSchedule = true; }
    std::shared_ptr<clsBackup> Add(const std::string& name, clsBackup job) {
        job.sName = name;
        gBackups.push_back(std::make_shared<clsBackup>(std::move(job)));
        return gBackups.back();
    }
    TickResult TickAt(const DateTime& now) {
        SetClockOverride(now);
        return SchedulerTick(run);
    }
    long Logged(const std::string& text) const {
        return std::ranges::count_if(host.activity,
                                     [&](auto& l) { return l.find(text) != l.npos; });
    }
    std::vector<std::string> ran;
    std::function<void(const std::string&)> run = [this](auto& n) { ran.push_back(n); };
};

} // namespace

TEST(Schedules, NextStartAndTheColumnTextsForEachKind) {
    LoadMessageCatalogue("");
    // `hhmm`: time of day of kinds 2 to 4; `next` empty: left as it was.
    // clang-format off
    const struct { std::uint8_t kind, data; const char* start; int hhmm;
                   const char *now, *text, *next; } cases[] = {
        // Hourly takes the next hour's minute, across midnight and month end;
        // the tomorrow form compares days of the month.
        {1, 30, "03-01 08:00", 0, "03-07 10:29", "Today at11:30", "03-07 11:30"},
        {1, 15, "03-01 08:00", 0, "03-07 23:45", "Tomorrow at 0:15", "03-08 00:15"},
        {1, 15, "03-01 08:00", 0, "03-31 23:45", "Friday, Apr 01 at 0:15", "04-01 00:15"},
        // Before its start it waits for the start hour (one more past the hour).
        {1, 30, "03-10 08:00", 0, "03-07 12:00", "Thursday, Mar 10 at 8:30", "03-10 08:30"},
        {1, 30, "03-10 08:20", 0, "03-07 12:00", "Thursday, Mar 10 at 9:30", "03-10 09:30"},
        // Daily on Mondays (7 March 2005 is one) or on weekdays; no tomorrow form.
        {2, 64, "03-01 08:00", 2130, "03-07 21:30:00", "Today at21:30", "03-07 21:30"},
        {2, 64, "03-01 08:00", 2130, "03-07 21:30:20", "Monday, Mar 14 at 21:30", "03-14 21:30"},
        {2, 124, "03-01 08:00", 700, "03-07 08:00", "Tuesday, Mar 08 at 07:00", "03-08 07:00"},
        {2, 64, "03-01 08:00", 2130, "02-01 00:00", "Monday, Mar 07 at 21:30", "03-07 21:30"},
        // The start's own day is past its time of day: the search begins the next day.
        {2, 1, "03-06 22:00", 2130, "03-01 00:00", "Sunday, Mar 13 at 21:30", "03-13 21:30"},
        {2, 0, "03-01 08:00", 2130, "03-07 10:00", "", ""},
        // Monthly on the 31st: none from 3 February to 6 March; after the day's
        // run time the 32-day window of 1 April holds none either.
        {3, 30, "01-01 00:00", 1000, "02-03 09:00", "", ""},
        {3, 30, "01-01 00:00", 1000, "03-01 09:00", "Thursday, Mar 31 at 10:00", "03-31 10:00"},
        {3, 30, "01-01 00:00", 1000, "03-31 10:00:30", "", ""},
        // The editor's "Last day!" is the last day of each month.
        {3, 31, "01-01 00:00", 2300, "02-03 09:00", "Monday, Feb 28 at 23:00", "02-28 23:00"},
        {3, 31, "01-01 00:00", 2300, "04-30 23:30", "Tuesday, May 31 at 23:00", "05-31 23:00"},
        {4, 0, "03-10 14:00", 1400, "03-10 14:00", "Thursday, Mar 10 at 14:00", "03-10 14:00"},
        {4, 0, "03-10 14:00", 1400, "03-11 09:00", "Not scheduled", ""},
        {0, 0, "03-01 08:00", 0, "03-07 09:00", "Not scheduled", ""},
        {9, 5, "03-01 08:00", 0, "03-07 09:00", "", ""}};
    // clang-format on
    const DateTime before = At(2001, 1, 1, 0, 0);
    for (const auto& c : cases) {
        clsBackup job = JobWith(c.kind, c.data, In2005(c.start), c.hhmm);
        job.nextStart = before;
        EXPECT_EQ(ComputeNextStart(job, In2005(c.now)), c.text) << c.now;
        EXPECT_EQ(job.nextStart, *c.next ? In2005(c.next) : before) << c.text;
    }
    clsBackup disabled = JobWith(kScheduleHourly, 5, before);
    disabled.Schedule->enabled = false;
    EXPECT_EQ(ComputeNextStart(disabled, before), "");
    // A one-time job that ran stays done, even within its own start second.
    clsBackup once = JobWith(kScheduleOnce, 0, In2005("03-10 14:00"), 1400);
    once.nextStart = OneTimeDoneMarker();
    EXPECT_EQ(ComputeNextStart(once, In2005("03-10 14:00")), "Not scheduled");
    EXPECT_EQ(once.nextStart, At(1955, 1, 1, 0, 0));
    // The other columns are pinned by tidevault-cli's list; here the ten-year edge.
    once.lastOK = In2005("03-01 21:30:05");
    EXPECT_EQ(CompletedText(once, At(2015, 3, 7, 9, 0)), "03/01/05 21:30:05");
    EXPECT_EQ(CompletedText(once, At(2016, 3, 7, 9, 0)), "Never");
    EXPECT_EQ(CompletedText(once, At(1994, 3, 7, 9, 0)), "Never");
}

TEST_F(SchedulerTicks, JobsDueInTheSameMinuteRunInListOrderInOneTickAndOnlyOnce) {
    Add("B", JobWith(kScheduleDaily, 127, In2005("01-01 00:00"), 2130));
    Add("A", JobWith(kScheduleHourly, 30, In2005("01-01 00:00")));
    Add("C", JobWith(kScheduleDaily, 127, In2005("01-01 00:00"), 2200));
    auto once = Add("Once", JobWith(kScheduleOnce, 0, In2005("03-07 21:30"), 2130));
    SetClockOverride(In2005("03-07 20:40"));
    UpdateForm();
    // A run that ends within its start second leaves the refresh in that minute.
    const TickResult tick = TickAt(In2005("03-07 21:30:00"));
    EXPECT_TRUE(tick.started);
    EXPECT_EQ(ran, (std::vector<std::string>{"B", "A", "Once"}));
    EXPECT_EQ(host.timerStates, (std::vector<bool>{false, true}));
    EXPECT_EQ(tick.refreshed.size(), 4u);
    EXPECT_EQ(once->nextStart, OneTimeDoneMarker());
    EXPECT_FALSE(TickAt(In2005("03-07 21:30:30")).started);
    UpdateForm();
    EXPECT_EQ(once->nextStart, OneTimeDoneMarker());
}

TEST_F(SchedulerTicks, AStartSkippedOrMissedIsLoggedOnceAndNeverMadeUpLater) {
    auto daily = Add("Daily", JobWith(kScheduleDaily, 127, In2005("01-01 00:00"), 2130));
    Add("Once", JobWith(kScheduleOnce, 0, In2005("03-08 22:00"), 2200));
    SetClockOverride(In2005("03-07 20:40"));
    UpdateForm();
    // A restore holds the staging folder: the start is skipped, not missed.
    {
        RestoreStagingClaim restore;
        EXPECT_FALSE(TickAt(In2005("03-07 21:30:05")).started);
    }
    EXPECT_EQ(Logged("Start of Daily skipped: a restore is using the temporary directory!"), 1);
    EXPECT_EQ(daily->nextStart, In2005("03-08 21:30"));
    EXPECT_TRUE(TickAt(In2005("03-07 21:31")).refreshed.empty());
    // The window is shown with blocking on: the minute passes untouched.
    host.mainWindowVisible = true;
    EXPECT_FALSE(TickAt(In2005("03-08 21:30")).started);
    EXPECT_EQ(host.timerStates.size(), 4u);
    host.mainWindowVisible = false;
    // The machine slept through both starts and wakes two days later.
    const TickResult tick = TickAt(In2005("03-10 08:00:12"));
    EXPECT_FALSE(tick.started);
    EXPECT_EQ(Logged("Missed the start of Daily at 2005-03-08 21:30"), 1);
    EXPECT_EQ(Logged("Missed the start of Once at 2005-03-08 22:00"), 1);
    EXPECT_EQ(daily->nextStart, In2005("03-10 21:30"));
    ASSERT_EQ(tick.refreshed.size(), 2u);
    EXPECT_EQ(tick.refreshed[0].start, "Today at21:30");
    EXPECT_EQ(tick.refreshed[1].start, "Not scheduled");
    // Reported once; the new start comes as usual.
    EXPECT_TRUE(TickAt(In2005("03-10 08:01")).refreshed.empty());
    EXPECT_TRUE(TickAt(In2005("03-10 21:30")).started);
    EXPECT_EQ(ran, std::vector<std::string>{"Daily"});
    EXPECT_EQ(Logged("Missed the start"), 2);
}
