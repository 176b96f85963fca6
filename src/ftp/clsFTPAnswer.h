#pragma once
#include <cstdint>
#include <string>

// One line of a server reply, as the reply collector found it.
struct clsFTPAnswer {
    std::string replytext; // the whole line, without its line end
    std::int32_t replycode = 0;
};

// The reply code of a line: its first three characters as a number, 0 when
// they are not three digits.
std::int32_t ReplyCodeOf(const std::string& line);

// True when `text` ends with the final line of a reply ("ddd text" and its
// line end) and no multi-line reply ("ddd-...") is left open before it:
// nothing more can belong to that reply.
bool EndsWithFinalReplyLine(const std::string& text);
