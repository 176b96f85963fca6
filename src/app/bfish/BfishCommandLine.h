#pragma once

// The command line of the bfish tool:
//   bfish /i:INPUT /o:OUTPUT /P:- /e /q        (the backup program)
//   bfish /i:INPUT /o:OUTPUT /P:password words /e /q   (a person typing it)
// "/P:-" alone takes the password from standard input: every byte up to the
// end of input, nothing trimmed, not even a final newline, so any password
// arrives exactly as stored. Option letters are case-insensitive and may come
// in any order.

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

namespace bfish {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// The longest password standard input may carry.
inline constexpr std::size_t kMaxInputPassword = 65536;

enum class Mode { Encrypt, Decrypt };

struct Options {
    std::string input;
    std::string output;
    std::string password;
    bool passwordFromInput = false; // "/P:-": read it from standard input
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

// Parses, runs and reports on `err`; returns the process exit code. A password
// given as "/P:-" is read from `passwordInput`.
int RunTool(const std::vector<std::string>& args, std::ostream& err, int passwordInput);

} // namespace bfish
