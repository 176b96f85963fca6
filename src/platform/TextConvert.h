#pragma once
#include <cstdint>
#include <optional>
#include <string>

// The leading number of a text, 0 when it does not start with one (blanks
// skipped): "12abc" is 12, "abc" is 0. Settings and most job-list numbers
// are read this lenient way.
double LeadingNumber(const std::string& text);

// The whole text (blanks around it allowed) as a number, or nothing. Used
// where a damaged value must stop the load rather than become 0.
std::optional<double> StrictNumber(const std::string& text);
std::optional<std::int64_t> StrictInteger(const std::string& text);

// Shortest decimal text that reads back as the same value; whole numbers
// without exponent or decimal point.
std::string ShortestDecimal(double value);

std::string ReplaceAll(std::string text, const std::string& what, const std::string& with);
std::string ToUpperAscii(std::string text);
