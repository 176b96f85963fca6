#pragma once
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

// Rebuilds the catalogue from the built-in English texts, then lets the
// language file's [msgStrings] section replace any of them. A missing file or
// an empty value keeps the English text.
void LoadMessageCatalogue(const std::string& languageFile);

// The text of a key (case-sensitive); an unknown key gives the empty text.
std::string GetMsg(const std::string& key);

// A placeholder ("%d") and the text that takes its place.
using Placeholder = std::pair<std::string_view, std::string_view>;

// Replaces the placeholders in one pass from left to right: what a value
// brings in is never searched again, so a path holding "%d" or a job named
// "50%t" arrives as it is.
std::string FillPlaceholders(std::string_view text, std::initializer_list<Placeholder> values);

// GetMsg with its placeholders filled.
std::string GetMsg(const std::string& key, std::initializer_list<Placeholder> values);
std::string GetMsg(const std::string& key, const std::string& placeholder,
                   const std::string& value);

// The language file for a language name: Languages/<name>.lng when it exists,
// otherwise Languages/english.lng (not checked further).
std::string LanguageFileFor(const std::string& language);
