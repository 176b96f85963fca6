#pragma once
#include <string>
#include <vector>

// Runs tidevault-cli as a user would and collects what it printed.
struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

CliResult RunCliProcess(const std::vector<std::string>& args,
                        const std::vector<std::string>& extraEnv = {});
