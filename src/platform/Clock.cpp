#include "platform/Clock.h"

#include <ctime>

namespace {
std::optional<DateTime> gFixedNow;
}

DateTime ClockNow() {
    if (gFixedNow)
        return *gFixedNow;
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return DateTime::FromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                               local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec)
        .value_or(DateTime::ZeroDate());
}

void SetClockOverride(std::optional<DateTime> fixed) {
    gFixedNow = fixed;
}
