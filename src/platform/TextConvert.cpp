#include "platform/TextConvert.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Length of the longest prefix of s that is a decimal number.
std::size_t NumberPrefix(const std::string& s, std::size_t pos) {
    std::size_t i = pos;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    const std::size_t digitsStart = i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
        ++i;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
            ++i;
    }
    if (i == digitsStart || (i == digitsStart + 1 && s[digitsStart] == '.'))
        return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            ++j;
        if (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
            while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])))
                ++j;
            i = j;
        }
    }
    return i - pos;
}

} // namespace

double LeadingNumber(const std::string& text) {
    std::size_t pos = 0;
    while (pos < text.size() && IsBlank(text[pos]))
        ++pos;
    const std::size_t len = NumberPrefix(text, pos);
    if (len == 0)
        return 0.0;
    return std::strtod(text.substr(pos, len).c_str(), nullptr);
}

std::optional<double> StrictNumber(const std::string& text) {
    std::size_t pos = 0;
    while (pos < text.size() && IsBlank(text[pos]))
        ++pos;
    const std::size_t len = NumberPrefix(text, pos);
    if (len == 0)
        return std::nullopt;
    std::size_t end = pos + len;
    while (end < text.size() && IsBlank(text[end]))
        ++end;
    if (end != text.size())
        return std::nullopt;
    return std::strtod(text.substr(pos, len).c_str(), nullptr);
}

std::optional<std::int64_t> StrictInteger(const std::string& text) {
    const std::optional<double> value = StrictNumber(text);
    if (!value || !std::isfinite(*value) || std::fabs(*value) > 9.0e18)
        return std::nullopt;
    return static_cast<std::int64_t>(std::llround(*value));
}

std::string ShortestDecimal(double value) {
    char buffer[64];
    std::to_chars_result r{};
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e17)
        r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    else
        r = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, r.ptr);
}

std::string ReplaceAll(std::string text, const std::string& what, const std::string& with) {
    if (what.empty())
        return text;
    std::size_t pos = 0;
    while ((pos = text.find(what, pos)) != std::string::npos) {
        text.replace(pos, what.size(), with);
        pos += with.size();
    }
    return text;
}

std::string ToUpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}
