#include "i18n/Catalogue.h"

#include "i18n/BuiltinMessages.h"
#include "i18n/clsString.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/ProgramFolder.h"

#include <cctype>
#include <unordered_map>
#include <vector>

namespace {

struct Catalogue {
    std::vector<clsString> entries;
    std::unordered_map<std::string, std::size_t> byKey;
};

Catalogue BuildBuiltin() {
    Catalogue c;
    for (const BuiltinMessage& m : BuiltinMessages()) {
        clsString s;
        s.Fill(std::string(m.key), std::string(m.text));
        c.byKey.emplace(s.Nam, c.entries.size());
        c.entries.push_back(std::move(s));
    }
    return c;
}

Catalogue& TheCatalogue() {
    // Usable before start-up has loaded a language: English from the start.
    static Catalogue catalogue = BuildBuiltin();
    return catalogue;
}

std::string CutAtNul(const std::string& text) {
    const std::size_t nul = text.find('\0');
    return nul == std::string::npos ? text : text.substr(0, nul);
}

} // namespace

void LoadMessageCatalogue(const std::string& languageFile) {
    Catalogue catalogue = BuildBuiltin();
    IniFile ini;
    if (ini.Load(languageFile)) {
        for (clsString& entry : catalogue.entries) {
            const std::string text = CutAtNul(ini.ReadString("msgStrings", entry.Nam));
            if (!text.empty())
                entry.Txt = text;
        }
    }
    TheCatalogue() = std::move(catalogue);
}

std::string GetMsg(const std::string& key) {
    const Catalogue& c = TheCatalogue();
    const auto it = c.byKey.find(key);
    return it == c.byKey.end() ? std::string() : c.entries[it->second].Txt;
}

std::string FillPlaceholders(std::string_view text, std::initializer_list<Placeholder> values) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const Placeholder* match = nullptr;
        for (const Placeholder& p : values) {
            if (!p.first.empty() && text.substr(pos, p.first.size()) == p.first &&
                (match == nullptr || p.first.size() > match->first.size()))
                match = &p;
        }
        if (match != nullptr) {
            out += match->second;
            pos += match->first.size();
        } else {
            out += text[pos++];
        }
    }
    return out;
}

std::string GetMsg(const std::string& key, std::initializer_list<Placeholder> values) {
    return FillPlaceholders(GetMsg(key), values);
}

std::string GetMsg(const std::string& key, const std::string& placeholder,
                   const std::string& value) {
    return FillPlaceholders(GetMsg(key), {{placeholder, value}});
}

std::string LanguageFileFor(const std::string& language) {
    const std::string folder = JoinPath(ProgramFolder(), "Languages");
    const std::string wanted = language + ".lng";
    const std::string file = JoinPath(folder, wanted);
    if (FileExists(file))
        return file;
    // The settings window stores the name as it shows it ("German"), the file
    // is german.lng: names are compared without regard to case.
    const auto lower = [](std::string text) {
        for (char& c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    for (const std::string& name : ListFileNames(folder))
        if (lower(name) == lower(wanted))
            return JoinPath(folder, name);
    return JoinPath(folder, "english.lng");
}
