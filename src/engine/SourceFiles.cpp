#include "engine/SourceFiles.h"

#include "core/Globals.h"
#include "core/Progress.h"
#include "core/Registry.h"
#include "core/host.h"
#include "i18n/Catalogue.h"
#include "platform/FileCopy.h"
#include "platform/FileTimes.h"
#include "platform/IniFile.h"
#include "platform/TextConvert.h"
#include "platform/TextUtil.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes a folder stream (and its descriptor) when it goes out of scope.
class FolderStream {
public:
    explicit FolderStream(DIR* dir) : dir_(dir) {}
    ~FolderStream() {
        if (dir_ != nullptr)
            ::closedir(dir_);
    }
    FolderStream(const FolderStream&) = delete;
    FolderStream& operator=(const FolderStream&) = delete;
    DIR* get() const { return dir_; }

private:
    DIR* dir_;
};

enum class EntryKind { File, Folder };

struct FolderEntry {
    std::string name;
    EntryKind kind = EntryKind::File;
    struct stat st {}; // of the file or of the link itself
    FileTimesOf times;
    std::string linkTarget;
};

// One folder being walked: what is left of its entries.
struct Level {
    std::string folder; // ends with "/"
    std::vector<FolderEntry> entries;
    std::size_t next = 0;
};

// The folder a search pattern names, ending in one "/"; empty when the
// pattern names none (so an empty pattern never lists the working folder).
// Only the trailing "*.*" is the mask: "*" is a legal character in Linux
// folder names.
std::string FolderOfPattern(const std::string& pattern) {
    std::string folder = pattern;
    if (folder.size() >= 3 && folder.compare(folder.size() - 3, 3, "*.*") == 0)
        folder.resize(folder.size() - 3);
    if (folder.empty())
        return folder;
    while (folder.size() > 1 && folder.back() == '/' && folder[folder.size() - 2] == '/')
        folder.pop_back();
    if (folder.back() != '/')
        folder += '/';
    return folder;
}

// Decides what an entry is without opening it: opening a FIFO would block.
// Regular files, real folders and symbolic links take part; a link is taken
// as itself (its target text), whatever it leads to, and never followed.
bool ClassifyEntry(int folderFd, const dirent& entry, FolderEntry& out) {
    if (entry.d_type == DT_DIR) {
        out.kind = EntryKind::Folder;
        return true;
    }
    if (!StatAt(folderFd, entry.d_name, false, out.st, out.times))
        return false;
    if (S_ISDIR(out.st.st_mode)) {
        out.kind = EntryKind::Folder;
        return true;
    }
    out.kind = EntryKind::File;
    if (S_ISLNK(out.st.st_mode)) {
        if (!ReadLinkText(folderFd, entry.d_name, out.linkTarget))
            return false;
        // The stored content is the text read, whatever the link says now.
        out.st.st_size = static_cast<off_t>(out.linkTarget.size());
        return true;
    }
    return S_ISREG(out.st.st_mode);
}

// Reads a folder whole and closes it before any subfolder is opened, so a deep
// tree never holds more than one descriptor. Names are sorted by their bytes:
// the listing does not depend on the file system's order.
std::vector<FolderEntry> ReadFolder(const std::string& folder, bool followLink) {
    std::vector<FolderEntry> entries;
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    const int fd = ::open(folder.c_str(), flags);
    if (fd < 0)
        return entries;
    FolderStream stream(::fdopendir(fd));
    if (stream.get() == nullptr) {
        ::close(fd);
        return entries;
    }
    while (const dirent* entry = ::readdir(stream.get())) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        FolderEntry item;
        if (!ClassifyEntry(fd, *entry, item))
            continue;
        item.name = name;
        entries.push_back(std::move(item));
    }
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return entries;
}

clsDskFile RecordOf(const std::string& folder, const FolderEntry& entry) {
    clsDskFile record;
    record.filename = entry.name;
    record.path = folder;
    record.dSize = static_cast<std::int64_t>(entry.st.st_size);
    record.dAttrib = AttributeWord(entry.st, entry.name);
    record.linkTarget = entry.linkTarget;
    const FileTimesOf& times = entry.times;
    record.tCreationTimeSet(times.creation.high, times.creation.low);
    record.tLastAccessTimeSet(times.lastAccess.high, times.lastAccess.low);
    record.tLastWriteTimeSet(times.lastWrite.high, times.lastWrite.low);
    return record;
}

std::int64_t StoredSize(double size) {
    if (!std::isfinite(size) || size <= 0)
        return 0;
    if (size >= 9.2e18)
        return std::numeric_limits<std::int64_t>::max();
    return std::llround(size);
}

// A mask as the filter compares it: without "*" and ".", trimmed, upper case.
std::string ReducedMask(const std::string& mask) {
    return ToUpperAscii(TrimBlanks(ReplaceAll(ReplaceAll(mask, "*", ""), ".", "")));
}

// The reduced masks of a ";"-separated list; the empty ones never match and
// are left out.
std::vector<std::string> ReducedMasks(const std::string& text) {
    std::vector<std::string> masks;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t end = text.find(';', begin);
        std::string mask = ReducedMask(text.substr(begin, end - begin));
        if (!mask.empty())
            masks.push_back(std::move(mask));
        if (end == std::string::npos)
            break;
        begin = end + 1;
    }
    return masks;
}

bool MatchesAny(const std::string& filename, const std::vector<std::string>& masks) {
    const std::string name = ToUpperAscii(filename);
    for (const std::string& mask : masks) {
        if (name.size() >= mask.size() &&
            name.compare(name.size() - mask.size(), mask.size(), mask) == 0)
            return true;
    }
    return false;
}

} // namespace

void SearchFiles(const std::string& pattern, FileList& list) {
    const std::string root = FolderOfPattern(pattern);
    if (root.empty())
        return;
    const std::string caption = GetMsg("strMsgSearchingForFiles");
    // An explicit stack rather than recursion: a deep tree costs heap, not
    // call stack, and path length bounds it (a longer path cannot be opened).
    std::vector<Level> levels;
    levels.push_back({root, ReadFolder(root, true), 0});
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next >= level.entries.size()) {
            levels.pop_back();
            continue;
        }
        if (gAbort || gQuitting)
            return;
        const FolderEntry entry = std::move(level.entries[level.next++]);
        const std::string folder = level.folder;
        CurrentHost().Yield();
        if (entry.kind == EntryKind::File) {
            list.push_back(RecordOf(folder, entry));
            UpdateProgress(caption, entry.name + " < " + folder, 0, 0);
        }
        if (gPaused)
            PauseRun();
        if (entry.kind == EntryKind::Folder && !gAbort && !gQuitting) {
            const std::string subfolder = folder + entry.name + "/";
            levels.push_back({subfolder, ReadFolder(subfolder, false), 0});
        }
    }
}

clsDskFile SingleFileRecord(const clsBackupFile& entry) {
    clsDskFile record;
    const std::string& source = entry.sPath;
    const std::size_t slash = source.find_last_of('/');
    const std::string name = slash == std::string::npos ? source : source.substr(slash + 1);
    record.path = slash == std::string::npos ? std::string() : source.substr(0, slash + 1);
    record.dSize = StoredSize(entry.dSize);

    // Only a regular file (or a link to one) counts as existing: anything else
    // would be opened by the copy, and a FIFO would block it.
    struct stat st {};
    if (name.empty() || ::stat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return record;
    record.filename = name;
    record.dAttrib = AttributeWord(st, name);
    const FileTimesOf times = ReadFileTimes(source, st);
    record.tCreationTimeSet(times.creation.high, times.creation.low);
    record.tLastAccessTimeSet(times.lastAccess.high, times.lastAccess.low);
    record.tLastWriteTimeSet(times.lastWrite.high, times.lastWrite.low);
    return record;
}

void ApplyMaskFilter(FileList& list, const std::string& include, const std::string& exclude) {
    const bool includeMode = !TrimBlanks(ReplaceAll(include, "*.*", "")).empty();
    const bool excludeMode = !includeMode && !TrimBlanks(exclude).empty();
    if (!includeMode && !excludeMode)
        return;
    const std::vector<std::string> masks = ReducedMasks(includeMode ? include : exclude);
    std::erase_if(list, [&](const clsDskFile& file) {
        const bool matched = MatchesAny(file.filename, masks);
        return includeMode ? !matched : matched;
    });
}

std::vector<std::string> MaskHistory(int which) {
    if (which != 1 && which != 2)
        return {};
    std::vector<std::string> masks{"*.*"};
    const char* prefix = which == 1 ? "imask" : "emask";
    for (int n = 1; n <= 10; ++n) {
        const std::string name = prefix + std::string(n < 10 ? "0" : "") + std::to_string(n);
        std::string value = GetRegSetting("Backup", "masks", name);
        if (!TrimBlanks(value).empty())
            masks.push_back(std::move(value));
    }
    return masks;
}
