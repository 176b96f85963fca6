#pragma once
#include <string>

// Writes a whole file (creating its folder), for test fixtures.
void WriteTestFile(const std::string& path, const std::string& content);
std::string ReadTestFile(const std::string& path);

// A fresh temporary program folder for one test; removed afterwards.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& relative) const { return path_ + "/" + relative; }

    void Write(const std::string& relative, const std::string& content) const {
        WriteTestFile(File(relative), content);
    }
    std::string Read(const std::string& relative) const { return ReadTestFile(File(relative)); }

private:
    std::string path_;
};
