#include "platform/DateTime.h"

#include <array>
#include <ctime>
#include <string_view>

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Days from 1970-01-01 to 1899-12-30.
constexpr std::int64_t kZeroDateFromEpochDays = -25569;

// Proleptic Gregorian day count relative to 1970-01-01.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

int DaysInMonth(int year, int month) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

std::string Pad(int value, int width) {
    std::string s = std::to_string(value);
    while (static_cast<int>(s.size()) < width)
        s.insert(s.begin(), '0');
    return s;
}

} // namespace

DateTime DateTime::FromSerialSeconds(std::int64_t seconds) {
    return DateTime(seconds);
}

std::optional<DateTime> DateTime::FromParts(int year, int month, int day, int hour, int minute,
                                            int second) {
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59)
        return std::nullopt;
    const std::int64_t days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
        kZeroDateFromEpochDays;
    return DateTime(days * kSecondsPerDay + hour * 3600 + minute * 60 + second);
}

void DateTime::Civil(int& year, int& month, int& day) const {
    CivilFromDays(FloorDiv(seconds_, kSecondsPerDay) + kZeroDateFromEpochDays, year, month, day);
}

int DateTime::Year() const {
    int y, m, d;
    Civil(y, m, d);
    return y;
}
int DateTime::Month() const {
    int y, m, d;
    Civil(y, m, d);
    return m;
}
int DateTime::Day() const {
    int y, m, d;
    Civil(y, m, d);
    return d;
}
int DateTime::Hour() const {
    return static_cast<int>(TimeOfDaySeconds() / 3600);
}
int DateTime::Minute() const {
    return static_cast<int>(TimeOfDaySeconds() / 60 % 60);
}
int DateTime::Second() const {
    return static_cast<int>(TimeOfDaySeconds() % 60);
}

int DateTime::IsoWeekday() const {
    // 1970-01-01 was a Thursday (4).
    const std::int64_t epochDays = FloorDiv(seconds_, kSecondsPerDay) + kZeroDateFromEpochDays;
    const std::int64_t w = ((epochDays + 3) % 7 + 7) % 7; // 0 = Monday
    return static_cast<int>(w) + 1;
}

DateTime DateTime::DatePart() const {
    return DateTime(FloorDiv(seconds_, kSecondsPerDay) * kSecondsPerDay);
}

std::int64_t DateTime::TimeOfDaySeconds() const {
    return seconds_ - DatePart().seconds_;
}

DateTime DateTime::AddDays(std::int64_t days) const {
    return DateTime(seconds_ + days * kSecondsPerDay);
}

DateTime DateTime::AddSeconds(std::int64_t seconds) const {
    return DateTime(seconds_ + seconds);
}

std::string DateTime::Format(const std::string& pattern) const {
    int y, m, d;
    Civil(y, m, d);
    std::string out;
    out.reserve(pattern.size() + 4);
    const std::string_view rest(pattern);
    std::size_t i = 0;
    // Index lines and trailers format a date for every stored file.
    auto take = [&](std::string_view t) {
        if (rest.substr(i, t.size()) == t) {
            i += t.size();
            return true;
        }
        return false;
    };
    while (i < pattern.size()) {
        if (take("yyyy"))
            out += Pad(y, 4);
        else if (take("MM"))
            out += Pad(m, 2);
        else if (take("dd"))
            out += Pad(d, 2);
        else if (take("HH") || take("hh"))
            out += Pad(Hour(), 2);
        else if (take("mm"))
            out += Pad(Minute(), 2);
        else if (take("ss"))
            out += Pad(Second(), 2);
        else
            out += pattern[i++];
    }
    return out;
}

std::string DateTime::FormatLocale(const char* strftimePattern) const {
    int y, m, d;
    Civil(y, m, d);
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = m - 1;
    tm.tm_mday = d;
    tm.tm_hour = Hour();
    tm.tm_min = Minute();
    tm.tm_sec = Second();
    tm.tm_wday = IsoWeekday() % 7;
    tm.tm_isdst = -1;
    char buffer[256];
    const std::size_t n = std::strftime(buffer, sizeof buffer, strftimePattern, &tm);
    return std::string(buffer, n);
}
