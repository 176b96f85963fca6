#include "jobs/JobName.h"

#include "platform/TextUtil.h"

#include <algorithm>

namespace {

// The section that lists the job names: a job of that name would overwrite it.
constexpr const char* kNameListSection = "Backups";

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

} // namespace

std::string JobNameProblem(const std::string& name) {
    if (name.empty())
        return "strMsgNameEmpty";
    if (name.size() > kMaxJobNameBytes)
        return "strMsgNameTooLong";
    if (EqualsIgnoreCase(name, kNameListSection))
        return "strMsgNameReserved";
    // Lines of the job list are trimmed when read.
    if (TrimBlanks(name) != name)
        return "strMsgNameBlanks";
    // A line that begins with ";" is a comment.
    if (name.front() == ';')
        return "strMsgNameSemicolon";
    // "[" and "]" delimit a section's name.
    if (name.find_first_of("[]") != std::string::npos)
        return "strMsgNameBrackets";
    // The name is the file name of the job's volumes and index.
    if (name.find('/') != std::string::npos)
        return "strMsgNameSlash";
    if (std::any_of(name.begin(), name.end(), IsControl))
        return "strMsgNameControl";
    return std::string();
}
