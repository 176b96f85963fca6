#pragma once
#include <functional>
#include <string>

class clsBackup;

// What the password of a protected job is asked for; each has its own log lines.
enum class PasswordPurpose { Edit, Delete };

// Asks the user, through `prompt`, for the password of a protected job before
// it is edited or deleted, and logs the request and its outcome. `prompt` is
// given the job's password and returns true only when the user confirmed the
// same text. A wrong or cancelled entry is also shown in a message box.
// True when the job is unprotected or the password was right.
bool CheckJobPassword(const clsBackup& job, PasswordPurpose purpose,
                      const std::function<bool(const std::string& expected)>& prompt);

// The comparison the prompt makes: byte for byte, case and blanks included.
bool PasswordMatches(const std::string& expected, const std::string& typed);
