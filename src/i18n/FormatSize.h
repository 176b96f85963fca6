#pragma once
#include <cstdint>
#include <string>

// A byte count as the job list, the editor and the restore browser show it:
// in Gb, Mb or Kb with two decimals once the count is more than one such
// unit, otherwise in bytes. 1024 bytes shows as "1024 bytes", 1025 as
// "1.00 Kb". Each unit looks only at what is left below the next larger one,
// so exactly 1 Gb (nothing left below it) shows in bytes: kept as it always was.
std::string FormatSize(std::int64_t bytes);
