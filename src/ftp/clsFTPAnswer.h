#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One line of a server reply, as the reply collector found it.
struct clsFTPAnswer {
    std::string replytext; // the whole line, without its line end
    std::int32_t replycode = 0;
};

// The reply code of a line: its first three characters as a number, 0 when
// they are not three digits.
std::int32_t ReplyCodeOf(const std::string& line);

// One whole reply: its code and every line, the final one last. A line that
// is no reply at all (no code where one must be) comes as a reply of its own
// with code 0, so that it still reaches the log.
struct FtpReply {
    std::int32_t code = 0;
    std::vector<std::string> lines;
};

// Cuts the bytes of a control connection into replies. Bytes go in as they
// arrive; a reply comes out once its final line is in: "ddd text" alone, or
// "ddd-" up to the line "ddd " with the same code, whatever lies between.
class FtpReplyReader {
public:
    void Add(const std::string& bytes) { pending_ += bytes; }
    std::optional<FtpReply> Next();
    // Bytes of a reply that is not complete yet.
    const std::string& Pending() const { return pending_; }
    bool OpensMultiLineReply() const;
    void Clear() { pending_.clear(); }

private:
    std::string pending_;
};

// Server text made safe for the log and the terminal: a line end ("\r\n" or
// "\n") stays a line end, written "\r\n"; every other control character
// (C0, DEL, and C1 written in UTF-8) becomes "?", so a reply or a listing
// cannot move the cursor, recolour the terminal or forge a log line.
std::string PrintableServerText(const std::string& text);
