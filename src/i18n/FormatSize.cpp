#include "i18n/FormatSize.h"

#include <clocale>
#include <cstdio>

namespace {

constexpr std::int64_t kKb = 1024;
constexpr std::int64_t kMb = kKb * 1024;
constexpr std::int64_t kGb = kMb * 1024;

// "##,##0.00" with the locale's separators; a locale without a thousands
// separator (the C locale) still groups with ",".
std::string TwoDecimalsGrouped(double value) {
    const std::lconv* conv = std::localeconv();
    const std::string point = *conv->decimal_point != '\0' ? conv->decimal_point : ".";
    const std::string group = *conv->thousands_sep != '\0' ? conv->thousands_sep : ",";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
    std::string digits(buffer);
    // snprintf wrote the locale's decimal point: everything before the last
    // two digits and that point is the whole part.
    const std::size_t wholeEnd = digits.size() - 2 - point.size();
    const std::string whole = digits.substr(0, wholeEnd);
    std::string grouped;
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0)
            grouped += group;
        grouped += whole[i];
    }
    return grouped + point + digits.substr(digits.size() - 2);
}

} // namespace

std::string FormatSize(std::int64_t bytes) {
    const double gb = static_cast<double>(bytes) / kGb;
    const double mb = static_cast<double>(bytes % kGb) / kMb;
    const double kb = static_cast<double>(bytes % kMb) / kKb;
    if (gb > 1)
        return TwoDecimalsGrouped(gb) + " Gb";
    if (mb > 1)
        return TwoDecimalsGrouped(mb) + " Mb";
    if (kb > 1)
        return TwoDecimalsGrouped(kb) + " Kb";
    return std::to_string(bytes) + " bytes";
}
