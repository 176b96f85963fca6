#include "platform/IniFile.h"

#include "platform/FileSystem.h"
#include "platform/TextUtil.h"

#include <cerrno>

namespace {

std::string KeyOf(const std::string& line) {
    const std::size_t eq = line.find('=');
    return eq == std::string::npos ? std::string() : TrimBlanks(line.substr(0, eq));
}

bool IsComment(const std::string& trimmed) {
    return !trimmed.empty() && trimmed[0] == ';';
}

} // namespace

bool IniFile::Load(const std::string& path) {
    std::string text;
    if (!ReadWholeFile(path, text)) {
        Parse(std::string());
        return errno == ENOENT;
    }
    Parse(text);
    return true;
}

void IniFile::Parse(const std::string& text) {
    preamble_.clear();
    sections_.clear();
    std::size_t pos = 0;
    // A byte-order mark from an editor is not part of the first line.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        pos = 3;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        pos = end + 1;

        const std::string trimmed = TrimBlanks(line);
        const std::size_t close = trimmed.find(']');
        if (!trimmed.empty() && trimmed[0] == '[' && close != std::string::npos) {
            sections_.push_back({trimmed.substr(1, close - 1), {}});
            continue;
        }
        if (sections_.empty())
            preamble_.push_back(line);
        else
            sections_.back().lines.push_back(line);
    }
}

const IniFile::Section* IniFile::Find(const std::string& name) const {
    for (const Section& s : sections_) {
        if (EqualsIgnoreCase(s.name, name))
            return &s;
    }
    return nullptr;
}

IniFile::Section* IniFile::Find(const std::string& name) {
    return const_cast<Section*>(static_cast<const IniFile*>(this)->Find(name));
}

std::vector<std::string> IniFile::ReadSection(const std::string& section) const {
    std::vector<std::string> lines;
    if (const Section* s = Find(section)) {
        for (const std::string& line : s->lines) {
            std::string trimmed = TrimBlanks(line);
            if (!trimmed.empty() && !IsComment(trimmed))
                lines.push_back(std::move(trimmed));
        }
    }
    return lines;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& defaultValue) const {
    const Section* s = Find(section);
    if (s == nullptr)
        return defaultValue;
    for (const std::string& line : s->lines) {
        const std::string trimmed = TrimBlanks(line);
        if (IsComment(trimmed) || !EqualsIgnoreCase(KeyOf(trimmed), TrimBlanks(key)))
            continue;
        std::string value = TrimBlanks(trimmed.substr(trimmed.find('=') + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return defaultValue;
}

void IniFile::WriteSection(const std::string& section, const std::vector<std::string>& lines) {
    if (Section* s = Find(section)) {
        s->lines = lines;
        return;
    }
    sections_.push_back({section, lines});
}

void IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) {
    Section* s = Find(section);
    if (s == nullptr) {
        sections_.push_back({section, {}});
        s = &sections_.back();
    }
    const std::string line = key + "=" + value;
    for (std::string& existing : s->lines) {
        const std::string trimmed = TrimBlanks(existing);
        if (!IsComment(trimmed) && EqualsIgnoreCase(KeyOf(trimmed), key)) {
            existing = line;
            return;
        }
    }
    // New keys go after the last non-blank line, so the blank line that
    // separates sections stays at the end.
    auto insertAt = s->lines.end();
    while (insertAt != s->lines.begin() && TrimBlanks(*(insertAt - 1)).empty())
        --insertAt;
    s->lines.insert(insertAt, line);
}

bool IniFile::DeleteKey(const std::string& section, const std::string& key) {
    Section* s = Find(section);
    if (s == nullptr)
        return false;
    for (auto it = s->lines.begin(); it != s->lines.end(); ++it) {
        const std::string trimmed = TrimBlanks(*it);
        if (!IsComment(trimmed) && EqualsIgnoreCase(KeyOf(trimmed), key)) {
            s->lines.erase(it);
            return true;
        }
    }
    return false;
}

std::vector<std::string>* IniFile::Lines(const std::string& section) {
    Section* s = Find(section);
    return s == nullptr ? nullptr : &s->lines;
}

std::string IniFile::Serialize(const char* lineEnd) const {
    std::string out;
    for (const std::string& line : preamble_)
        out += line + lineEnd;
    for (const Section& s : sections_) {
        out += "[" + s.name + "]" + lineEnd;
        for (const std::string& line : s.lines)
            out += line + lineEnd;
    }
    return out;
}

bool IniFile::Save(const std::string& path, unsigned mode, const char* lineEnd) const {
    return WriteFileAtomically(path, Serialize(lineEnd), mode);
}
