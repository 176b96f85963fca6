#include "platform/FileSystem.h"
#include "platform/UniqueFd.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FolderExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::int64_t FileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return -1;
    return static_cast<std::int64_t>(st.st_size);
}

bool CreateFolderPath(const std::string& path) {
    if (path.empty())
        return false;
    // Most calls find the folder already there: one look settles it.
    if (FolderExists(path))
        return true;
    std::string level;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        level = path.substr(0, pos);
        if (level.empty() || level == "/")
            continue;
        if (::mkdir(level.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return FolderExists(path);
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool CopyFileContents(const std::string& from, const std::string& to) {
    std::string content;
    if (!ReadWholeFile(from, content))
        return false;
    struct stat st {};
    const unsigned mode = ::stat(from.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0600;
    return WriteFileAtomically(to, content, mode);
}

std::vector<std::string> ListFileNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (FileExists(JoinPath(folder, name)))
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

bool ReadWholeFile(const std::string& path, std::string& content) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return false;
    content.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& content, unsigned mode) {
    std::string tmpl = JoinPath(ParentFolder(path), "." + FileNameOf(path) + ".tmp-XXXXXX");
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    UniqueFd fd(::mkstemp(name.data()));
    if (fd.get() < 0)
        return false;
    const std::string tmpPath(name.data());
    const bool written = ::fchmod(fd.get(), mode) == 0 &&
                         WriteAll(fd.get(), content.data(), content.size()) &&
                         ::fsync(fd.get()) == 0;
    const bool closed = ::close(fd.release()) == 0;
    if (!written || !closed || ::rename(tmpPath.c_str(), path.c_str()) != 0) {
        ::unlink(tmpPath.c_str());
        return false;
    }
    // Make the rename itself durable.
    UniqueFd dir(::open(ParentFolder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
    return true;
}

std::string DrivePrefix(const std::string&) {
    return std::string();
}

std::string StripDrivePrefix(const std::string& path) {
    return path.substr(DrivePrefix(path).size());
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    if (folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

std::string ParentFolder(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
