#pragma once

// The command line of the bfish tool, as the backup program builds it:
//   bfish /i:INPUT /o:OUTPUT /P:password words /e /q
// Option letters are case-insensitive and may come in any order.

#include <iosfwd>
#include <string>
#include <vector>

namespace bfish {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

enum class Mode { Encrypt, Decrypt };

struct Options {
    std::string input;
    std::string output;
    std::string password;
    Mode mode = Mode::Encrypt;
    bool quiet = false;
};

struct ParseResult {
    bool ok = false;
    Options options;
    std::string error; // why the command line was refused, when !ok
};

// `args` are the arguments after the program name.
ParseResult ParseArguments(const std::vector<std::string>& args);

std::string UsageText();

// Parses, runs and reports on `err`; returns the process exit code.
int RunTool(const std::vector<std::string>& args, std::ostream& err);

} // namespace bfish
