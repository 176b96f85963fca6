#pragma once
#include <cstdint>
#include <string>

// Every notable event goes through WriteLog: the activity list, the status
// bar and logs/tidevault.log. It never fails towards its caller.
void WriteLog(const std::string& message);
// Transient progress text: status bar only.
void SetStatusText(const std::string& text);

std::string LogFilePath();
// "[2005 Mar 01 21:30:05]-" for the current moment.
std::string LogTimeStamp();

// The size past which the log is rotated before the next append.
inline constexpr std::int64_t kLogRotateSize = 5000000;
