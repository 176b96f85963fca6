#pragma once
#include <functional>
#include <string>
#include <vector>

#include "jobs/clsBackup.h"
#include "platform/DateTime.h"

// A one-time job that has run gets this next start: it never equals a
// current minute again.
DateTime OneTimeDoneMarker();

// Computes the job's next start as at `now` and returns the text of the job
// list's start column. Leaves nextStart unchanged where no start is found.
std::string ComputeNextStart(clsBackup& job, const DateTime& now);

// The other columns of the job list.
std::string TypeText(const clsBackup& job);
std::string CompletedText(const clsBackup& job, const DateTime& now);
std::string DestinationText(const clsBackup& job);

struct JobRow {
    std::string name;
    std::string type;
    std::string start;
    std::string completed;
    std::string destination;
    std::int32_t status = 0;
};

// One row of the job list, as at `now`; recomputes the job's next start.
JobRow RefreshRow(clsBackup& job, const DateTime& now);

// The job list refresh: every job's next start recomputed, one row per job.
std::vector<JobRow> UpdateForm();

struct TickResult {
    bool started = false;
    // The rows whose next start the tick recomputed, for the job list.
    std::vector<JobRow> refreshed;
};

// One scheduler tick: runs every job due in the current minute, one after
// the other, through `runBackup`. A start that falls while a restore holds
// the staging folder is skipped; a next start already past (the machine
// slept, the clock jumped) is logged and computed anew, never started late.
TickResult SchedulerTick(const std::function<void(const std::string& name)>& runBackup);
