#pragma once
#include <string>
#include <vector>

// Runs tidevault-cli as a user would and collects what it printed.
struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Starts tidevault-cli without waiting for it (its output discarded), for
// tests that signal it while it works. The process id, or -1.
int StartCliProcess(const std::vector<std::string>& args);

CliResult RunCliProcess(const std::vector<std::string>& args,
                        const std::vector<std::string>& extraEnv = {});
