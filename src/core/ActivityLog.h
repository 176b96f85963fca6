#pragma once
#include <cstdint>
#include <string>

// Every notable event goes through WriteLog: the activity list, the status
// bar and logs/tidevault.log. It never fails towards its caller.
void WriteLog(const std::string& message);
// The record of one file among the thousands of a run: listed at once like
// any record, but written to logs/tidevault.log together with the records
// after it. Whatever waits is written before any other record (so the order
// holds), by FlushLog, within a second, and when the program ends.
void WriteFileRecord(const std::string& message);
void FlushLog();
// Transient progress text: status bar only.
void SetStatusText(const std::string& text);

std::string LogFilePath();
// "[2005 Mar 01 21:30:05]-" for the current moment.
std::string LogTimeStamp();

// The size past which the log is rotated before the next append.
inline constexpr std::int64_t kLogRotateSize = 5000000;
