#pragma once
#include <string>
#include <vector>

// tidevault-cli: a thin shell over the engine. Returns the exit status.
int RunCli(const std::vector<std::string>& args);
