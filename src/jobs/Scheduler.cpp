#include "jobs/Scheduler.h"

#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "core/host.h"
#include "i18n/Catalogue.h"
#include "platform/Clock.h"
#include "platform/TextUtil.h"

#include <cstdio>
#include <map>

namespace {

constexpr std::int64_t kMinute = 60;
constexpr std::int64_t kHour = 60 * kMinute;
constexpr int kDaysInWeek = 7;
// The monthly search looks at the base day and the 31 days after it.
constexpr int kMonthlyDaysSearched = 32;
// The editor's "Last day!" entry.
constexpr std::uint8_t kLastDayOfMonth = 31;
// Further away than this, a last success is shown as never.
constexpr int kNeverAfterYears = 10;
constexpr const char* kLogMinute = "yyyy-MM-dd HH:mm";

std::string TwoDigits(int n) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02d", n);
    return buffer;
}

std::string LongDay(const DateTime& day) {
    return day.FormatLocale("%A, %b %d");
}

std::string NextHourly(clsBackup& job, const clsSchedule& s, const DateTime& now) {
    if (now < s.start) {
        DateTime next = s.start.DatePart().AddSeconds(s.start.Hour() * kHour + s.Data * kMinute);
        if (s.start.Minute() > s.StartHour.Minute())
            next = next.AddSeconds(kHour);
        job.nextStart = next;
    } else {
        job.nextStart = now.DatePart().AddSeconds((now.Hour() + 1) * kHour + s.Data * kMinute);
    }
    const std::string at = std::to_string(job.nextStart.Hour()) + ":" + TwoDigits(s.Data);
    if (job.nextStart.Day() == now.Day() + 1)
        return GetMsg("strMsgTomorrowAt") + at;
    if (job.nextStart.Day() == now.Day())
        return GetMsg("strMsgTodayAt") + at;
    return LongDay(job.nextStart) + " at " + at;
}

std::string FoundDayText(clsBackup& job, const clsSchedule& s, const DateTime& day,
                         const DateTime& now) {
    job.nextStart = day.AddSeconds(s.StartHour.TimeOfDaySeconds());
    const std::string at = s.StartHour.Format("HH:mm");
    if (day == now.DatePart())
        return GetMsg("strMsgTodayAt") + at;
    return LongDay(day) + " at " + at;
}

std::string NextDaily(clsBackup& job, const clsSchedule& s, const DateTime& now) {
    DateTime base;
    if (now < s.start) {
        base = s.StartHour.TimeOfDaySeconds() > s.start.TimeOfDaySeconds()
                   ? s.start.DatePart()
                   : s.start.DatePart().AddDays(1);
    } else {
        const DateTime todayAtHour = now.DatePart().AddSeconds(s.StartHour.TimeOfDaySeconds());
        base = todayAtHour < now ? now.DatePart().AddDays(1) : now.DatePart();
    }
    for (int i = 0; i < kDaysInWeek; ++i) {
        const DateTime day = base.AddDays(i);
        // Monday is the highest of the seven bits, Sunday the lowest.
        const int bit = 1 << (kDaysInWeek - day.IsoWeekday());
        if ((s.Data & bit) != 0)
            return FoundDayText(job, s, day, now);
    }
    return std::string();
}

bool IsLastDayOfMonth(const DateTime& day) {
    return day.AddDays(1).Day() == 1;
}

std::string NextMonthly(clsBackup& job, const clsSchedule& s, const DateTime& now) {
    DateTime base;
    if (now > s.start) {
        const DateTime todayAtHour = now.DatePart().AddSeconds(s.StartHour.TimeOfDaySeconds());
        base = now > todayAtHour ? now.DatePart().AddDays(1) : now.DatePart();
    } else {
        const DateTime startDayAtHour =
            s.start.DatePart().AddSeconds(s.StartHour.TimeOfDaySeconds());
        base = s.start > startDayAtHour ? s.start.DatePart().AddDays(1) : s.start.DatePart();
    }
    for (int i = 0; i < kMonthlyDaysSearched; ++i) {
        const DateTime day = base.AddDays(i);
        // Past "Last day!", any day matches, as the day test always did.
        const bool matches = s.Data == kLastDayOfMonth  ? IsLastDayOfMonth(day)
                             : s.Data > kLastDayOfMonth ? true
                                                        : day.Day() == s.Data + 1;
        if (matches)
            return FoundDayText(job, s, day, now);
    }
    return std::string();
}

std::string NextOnce(clsBackup& job, const clsSchedule& s, const DateTime& now) {
    // Once it has run it stays done, even if the clock has not moved past
    // its start second yet.
    if (s.start < now || job.nextStart == OneTimeDoneMarker())
        return GetMsg("strMsgNotSched");
    job.nextStart = s.start;
    return LongDay(s.start) + " at " + s.start.Format("HH:mm");
}

bool SameMinute(const DateTime& a, const DateTime& b) {
    return a.DatePart() == b.DatePart() && a.Hour() == b.Hour() && a.Minute() == b.Minute();
}

DateTime StartOfMinute(const DateTime& t) {
    return t.AddSeconds(-t.Second());
}

// When each job was last started by a tick. A run can end within the second
// it started in, and the recomputed start would then still fall in that
// minute: never start a job twice in one.
std::map<std::string, DateTime>& StartTimes() {
    static std::map<std::string, DateTime> started;
    return started;
}

bool StartedInMinuteOf(const std::string& name, const DateTime& moment) {
    const auto it = StartTimes().find(name);
    return it != StartTimes().end() && SameMinute(it->second, moment);
}

// A next start before the current minute that the tick never saw come.
bool IsMissed(const clsBackup& job, const DateTime& now) {
    if (!job.Schedule || !job.Schedule->enabled)
        return false;
    const DateTime& next = job.nextStart;
    return next != DateTime::ZeroDate() && next != OneTimeDoneMarker() &&
           next < StartOfMinute(now) && !StartedInMinuteOf(job.sName, next);
}

} // namespace

DateTime OneTimeDoneMarker() {
    return *DateTime::FromParts(1955, 1, 1);
}

std::string ComputeNextStart(clsBackup& job, const DateTime& now) {
    if (!job.Schedule)
        return GetMsg("strMsgNotSched");
    const clsSchedule& s = *job.Schedule;
    if (!s.enabled)
        return std::string();
    switch (s.Tip) {
    case kScheduleHourly:
        return NextHourly(job, s, now);
    case kScheduleDaily:
        return NextDaily(job, s, now);
    case kScheduleMonthly:
        return NextMonthly(job, s, now);
    case kScheduleOnce:
        return NextOnce(job, s, now);
    default:
        return std::string();
    }
}

std::string TypeText(const clsBackup& job) {
    std::string text = GetMsg(job.bIncremental ? "strMsgIncremental" : "strMsgFull");
    if (job.bZipped)
        text += "(" + GetMsg("strMsgCompressed") + ")";
    return text;
}

std::string CompletedText(const clsBackup& job, const DateTime& now) {
    const int years = job.lastOK.Year() - now.Year();
    if (years > kNeverAfterYears || years < -kNeverAfterYears)
        return GetMsg("strMsgNever");
    return job.lastOK.FormatLocale("%x %X");
}

std::string DestinationText(const clsBackup& job) {
    if (job.destFTP && job.objDestination)
        return "ftp://" + job.objDestination->hostname + ":" +
               std::to_string(job.objDestination->port) + job.sDestinationDir;
    return job.sDestinationDir;
}

JobRow RefreshRow(clsBackup& job, const DateTime& now) {
    JobRow row;
    row.name = TrimBlanks(job.sName);
    row.type = TypeText(job);
    row.start = ComputeNextStart(job, now);
    row.completed = CompletedText(job, now);
    row.destination = DestinationText(job);
    row.status = job.enumStatus;
    return row;
}

std::vector<JobRow> UpdateForm() {
    std::vector<JobRow> rows;
    for (const auto& job : gBackups)
        rows.push_back(RefreshRow(*job, ClockNow()));
    return rows;
}

TickResult SchedulerTick(const std::function<void(const std::string& name)>& runBackup) {
    Host& host = CurrentHost();
    if (host.IsMainWindowVisible() && gBlockSchedule)
        return {};
    host.SetSchedulerTimer(false);
    const DateTime now = ClockNow();
    TickResult result;
    bool startHandled = false;
    std::vector<JobRow> missedRows;
    const auto jobs = gBackups; // a run may change the list; walk a snapshot
    for (const auto& job : jobs) {
        if (SameMinute(job->nextStart, now)) {
            if (StartedInMinuteOf(job->sName, now))
                continue;
            StartTimes()[job->sName] = now;
            startHandled = true;
            if (gRestoreHoldsStaging) {
                WriteLog(GetMsg("strMsgStartSkippedRestore", "%d", job->sName));
            } else {
                runBackup(job->sName);
                result.started = true;
            }
            if (job->Schedule && job->Schedule->Tip == kScheduleOnce)
                job->nextStart = OneTimeDoneMarker();
        } else if (IsMissed(*job, now)) {
            WriteLog(GetMsg("strMsgMissedStart",
                            {{"%d", job->sName}, {"%t", job->nextStart.Format(kLogMinute)}}));
            const DateTime missed = job->nextStart;
            JobRow row = RefreshRow(*job, now);
            // No later start found (a one-time job, a monthly day beyond the
            // search): none is known, and the miss is reported once.
            if (job->nextStart <= missed)
                job->nextStart = DateTime::ZeroDate();
            missedRows.push_back(std::move(row));
        }
    }
    result.refreshed = startHandled ? UpdateForm() : std::move(missedRows);
    host.SetSchedulerTimer(true);
    return result;
}
