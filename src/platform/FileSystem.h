#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Thin helpers over the local file system. Paths are UTF-8 strings with "/".

bool FileExists(const std::string& path);       // a regular file (or a link to one)
bool FolderExists(const std::string& path);     // a folder (or a link to one)
std::int64_t FileSize(const std::string& path); // -1 when it cannot be read

// Creates every missing level, like `mkdir -p`; an existing level is fine.
bool CreateFolderPath(const std::string& path);

bool RemoveFile(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);
bool CopyFileContents(const std::string& from, const std::string& to);

// Regular files directly in a folder (names only), "." and ".." skipped.
std::vector<std::string> ListFileNames(const std::string& folder);

bool ReadWholeFile(const std::string& path, std::string& content);

// Writes to a temporary file beside `path`, flushes it to disk and renames it
// over `path`, so a crash leaves either the old or the new file, never half.
bool WriteFileAtomically(const std::string& path, const std::string& content, unsigned mode = 0644);

// The local drive prefix of a path: on Linux there is none.
std::string DrivePrefix(const std::string& path);
std::string StripDrivePrefix(const std::string& path);

std::string JoinPath(const std::string& folder, const std::string& name);
std::string ParentFolder(const std::string& path);
std::string FileNameOf(const std::string& path);
