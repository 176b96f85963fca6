#pragma once
#include <initializer_list>
#include <string>
#include <string_view>

// One placeholder of a catalogue text and what goes in its place.
struct MsgArg {
    std::string_view placeholder; // "%d", "%n", ...
    std::string value;
};

// Every placeholder of `text` replaced in one pass from left to right, so a
// value that itself holds a placeholder (a path with "%d" in it) is never
// spliced into.
std::string ReplacePlaceholders(std::string_view text, std::initializer_list<MsgArg> args);

// The catalogue text of `key` with its placeholders replaced in one pass.
std::string GetMsgWith(const std::string& key, std::initializer_list<MsgArg> args);
