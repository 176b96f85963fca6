#include "support/TempHome.h"

#include "platform/FileSystem.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

TempHome::TempHome()
    : path_((std::filesystem::temp_directory_path() / "tidevault-test-XXXXXX").string()) {
    if (::mkdtemp(path_.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
}

TempHome::~TempHome() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void WriteTestFile(const std::string& path, const std::string& content) {
    CreateFolderPath(ParentFolder(path));
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string ReadTestFile(const std::string& path) {
    std::string content;
    ReadWholeFile(path, content);
    return content;
}
