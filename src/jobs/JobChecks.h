#pragma once
#include <string>

#include "jobs/clsBackup.h"

// The folder source of `job` that its local destination lies in (or is), as
// the job lists it; empty when there is none. Every run of such a job would
// store the earlier runs again. Paths are compared whole component by
// component after making them absolute and resolving links and "..", so
// /a/bc is not inside /a/b. A file source holds no folder, and an FTP
// destination is never inside a local source.
std::string DestinationInsideSource(const clsBackup& job);
