#pragma once
#include <string>

// The program folder: $TIDEVAULT_HOME when set and not empty, otherwise the
// folder of the running executable. `--home` overrides both. No trailing "/".
std::string ProgramFolder();
void SetProgramFolder(const std::string& folder);
