#pragma once
#include <string>

// Rebuilds the catalogue from the built-in English texts, then lets the
// language file's [msgStrings] section replace any of them. A missing file or
// an empty value keeps the English text.
void LoadMessageCatalogue(const std::string& languageFile);

// The text of a key (case-sensitive); an unknown key gives the empty text.
std::string GetMsg(const std::string& key);

// GetMsg with one placeholder replaced, the common case.
std::string GetMsg(const std::string& key, const std::string& placeholder,
                   const std::string& value);

// The language file for a language name: Languages/<name>.lng when it exists,
// otherwise Languages/english.lng (not checked further).
std::string LanguageFileFor(const std::string& language);
