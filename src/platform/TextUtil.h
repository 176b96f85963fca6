#pragma once
#include <string>

// Small text helpers shared by every layer. Blanks are spaces, tabs, CR and LF.
std::string TrimBlanks(const std::string& text);
// ASCII letters compared without regard to case; other bytes as they are.
bool EqualsIgnoreCase(const std::string& a, const std::string& b);
