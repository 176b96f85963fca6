#pragma once
#include <string>
#include <vector>

// An INI file held in memory: "[section]" headers followed by lines. It serves
// the job list, the language files and the settings store. Sections are read
// whole, however long, so nothing is lost when a section is written back.
class IniFile {
public:
    // A missing file reads as an empty one; false only when it exists but
    // cannot be read.
    bool Load(const std::string& path);
    void Parse(const std::string& text);

    // Every non-empty line of the section in file order, trimmed, lines
    // without "=" included; comment lines (";") are left out.
    std::vector<std::string> ReadSection(const std::string& section) const;
    // The first matching key's value, trimmed, with one pair of enclosing
    // double quotes removed (so a text can keep leading or trailing blanks).
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue = std::string()) const;

    // Replaces the section's lines; appends the section when missing.
    void WriteSection(const std::string& section, const std::vector<std::string>& lines);
    // Sets one key (case-insensitive match); appends it when missing.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    bool DeleteKey(const std::string& section, const std::string& key);
    // The section's lines as they stand, comments and blanks included, for
    // edits that must leave every other line alone; nullptr when missing.
    std::vector<std::string>* Lines(const std::string& section);

    std::string Serialize(const char* lineEnd = "\r\n") const;
    // Atomic replace of the whole file.
    bool Save(const std::string& path, unsigned mode = 0644, const char* lineEnd = "\r\n") const;

private:
    struct Section {
        std::string name;
        std::vector<std::string> lines;
    };
    const Section* Find(const std::string& name) const;
    Section* Find(const std::string& name);

    std::vector<std::string> preamble_;
    std::vector<Section> sections_;
};
