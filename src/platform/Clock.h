#pragma once
#include "platform/DateTime.h"

#include <optional>

// The one source of "now" for the whole program. Tests and `list --at` pin it.
DateTime ClockNow();
void SetClockOverride(std::optional<DateTime> fixed);
