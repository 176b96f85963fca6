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

// The job list refresh: every job's next start recomputed, one row per job.
std::vector<JobRow> UpdateForm();

// One scheduler tick: runs every job due in the current minute, one after
// the other, through `runBackup`. Returns true when a job was started.
bool SchedulerTick(const std::function<void(const std::string& name)>& runBackup);
