#include "ftp/clsFTPAnswer.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool StartsWithCode(const std::string& text, std::size_t pos) {
    return pos + 3 <= text.size() && IsDigit(text[pos]) && IsDigit(text[pos + 1]) &&
           IsDigit(text[pos + 2]);
}

// "ddd" alone or "ddd " and text: the last line of a reply.
bool IsFinalLine(const std::string& line, const std::string& code) {
    return line.compare(0, 3, code) == 0 && (line.size() == 3 || line[3] == ' ');
}

} // namespace

std::int32_t ReplyCodeOf(const std::string& line) {
    if (!StartsWithCode(line, 0))
        return 0;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

std::optional<FtpReply> FtpReplyReader::Next() {
    FtpReply reply;
    std::string openCode;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t end = pending_.find('\n', pos);
        if (end == std::string::npos)
            return std::nullopt;
        std::string line = pending_.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        pos = end + 1;
        reply.lines.push_back(line);
        if (openCode.empty()) {
            if (StartsWithCode(line, 0) && line.size() > 3 && line[3] == '-') {
                openCode = line.substr(0, 3);
                continue;
            }
            reply.code = StartsWithCode(line, 0) && IsFinalLine(line, line.substr(0, 3))
                             ? ReplyCodeOf(line)
                             : 0;
            break;
        }
        if (IsFinalLine(line, openCode)) {
            reply.code = ReplyCodeOf(openCode);
            break;
        }
    }
    pending_.erase(0, pos);
    return reply;
}

bool FtpReplyReader::OpensMultiLineReply() const {
    return StartsWithCode(pending_, 0) && pending_.size() > 3 && pending_[3] == '-';
}

std::string PrintableServerText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            if (c == '\r')
                ++i;
            out += "\r\n";
        } else if (c < 0x20 || c == 0x7F) {
            out += '?';
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // U+0080..U+009F: some terminals act on these as they do on ESC.
            ++i;
            out += '?';
        } else {
            out += text[i];
        }
    }
    return out;
}
