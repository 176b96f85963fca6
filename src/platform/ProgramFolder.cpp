#include "platform/ProgramFolder.h"

#include "platform/FileSystem.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace {

std::string gOverride;

std::string WithoutTrailingSlash(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

std::string ExecutableFolder() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return ".";
    return ParentFolder(std::string(buffer, static_cast<std::size_t>(n)));
}

} // namespace

std::string ProgramFolder() {
    if (!gOverride.empty())
        return gOverride;
    const char* home = std::getenv("TIDEVAULT_HOME");
    if (home != nullptr && *home != '\0')
        return WithoutTrailingSlash(home);
    return ExecutableFolder();
}

void SetProgramFolder(const std::string& folder) {
    gOverride = WithoutTrailingSlash(folder);
}
