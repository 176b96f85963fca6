#pragma once
#include <string>

// Encrypts or decrypts a file in place with the bfish tool in the program's
// bin folder. The file is first renamed to file + ".ue" for the tool to read;
// true only when the tool reported success and wrote the file. Otherwise the
// ".ue" file is put back under the original name, so the data is exactly as
// before the step, and a "FAIL:" line is logged. A cancel (gAbort) or quit
// while the tool runs stops it and counts as a failure.
// Nothing but `file` and file + ".ue" is touched.
bool EncryptFile(const std::string& file, const std::string& password);
bool DecryptFile(const std::string& file, const std::string& password);
