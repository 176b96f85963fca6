#pragma once
#include <cstdint>

#include "platform/DateTime.h"

// Kinds of schedule (`Tip`).
inline constexpr std::uint8_t kScheduleHourly = 1;
inline constexpr std::uint8_t kScheduleDaily = 2;
inline constexpr std::uint8_t kScheduleMonthly = 3;
inline constexpr std::uint8_t kScheduleOnce = 4;

struct clsSchedule {
    DateTime start;
    bool enabled = false;
    // Hourly: minute; daily: weekday bits (Monday 64 ... Sunday 1);
    // monthly: day of month - 1; once: 0.
    std::uint8_t Data = 0;
    std::uint8_t Tip = 0;
    DateTime StartHour; // only its time of day is used
};
