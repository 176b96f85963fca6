#pragma once
#include <cstddef>
#include <string>

// Volume names add up to 21 bytes to the job name ("-001", a 12-digit stamp,
// ".darc", the encryption suffix); the whole must stay a legal file name.
inline constexpr std::size_t kMaxJobNameBytes = 200;

// Why the job list cannot hold this name: the catalogue key of the reason, or
// the empty text when it can. The editor checks a typed name after removing
// its hyphens; the loader checks every name of the list.
std::string JobNameProblem(const std::string& name);
