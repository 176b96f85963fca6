#pragma once
#include <compare>
#include <cstdint>
#include <optional>
#include <string>

// A local date and time to the second. Day 0 is 30 December 1899, 00:00 (the
// "zero date" a job carries until it has a real value).
class DateTime {
public:
    DateTime() = default;

    static DateTime FromSerialSeconds(std::int64_t seconds);
    // Returns nothing when a field is out of range (month 13, 30 February, 24:00).
    static std::optional<DateTime> FromParts(int year, int month, int day, int hour = 0,
                                             int minute = 0, int second = 0);
    static DateTime ZeroDate() { return DateTime(); }

    std::int64_t SerialSeconds() const { return seconds_; }
    int Year() const;
    int Month() const;
    int Day() const;
    int Hour() const;
    int Minute() const;
    int Second() const;
    // 1 = Monday ... 7 = Sunday.
    int IsoWeekday() const;

    DateTime DatePart() const;
    std::int64_t TimeOfDaySeconds() const;
    DateTime AddDays(std::int64_t days) const;
    DateTime AddSeconds(std::int64_t seconds) const;

    // Digits-only pattern used by the job list ("yyyyMMddHHmm") and sessions.
    std::string Format(const std::string& pattern) const;
    // strftime under the C library locale, for month and weekday names.
    std::string FormatLocale(const char* strftimePattern) const;

    auto operator<=>(const DateTime&) const = default;

private:
    explicit DateTime(std::int64_t seconds) : seconds_(seconds) {}
    void Civil(int& year, int& month, int& day) const;

    std::int64_t seconds_ = 0;
};
