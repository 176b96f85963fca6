#include "ftp/clsFTPAnswer.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool StartsWithCode(const std::string& text, std::size_t pos) {
    return pos + 3 <= text.size() && IsDigit(text[pos]) && IsDigit(text[pos + 1]) &&
           IsDigit(text[pos + 2]);
}

} // namespace

std::int32_t ReplyCodeOf(const std::string& line) {
    if (!StartsWithCode(line, 0))
        return 0;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

bool EndsWithFinalReplyLine(const std::string& text) {
    if (text.size() < 6 || text.compare(text.size() - 2, 2, "\r\n") != 0)
        return false;
    // Walk the complete lines in order: a "ddd-" line opens a multi-line
    // reply that only "ddd " with the same code closes; lines in between may
    // look like anything.
    std::string openCode;
    bool lastWasFinal = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find("\r\n", pos);
        if (end == std::string::npos)
            return false;
        lastWasFinal = false;
        if (StartsWithCode(text, pos) && end - pos >= 4) {
            const std::string code = text.substr(pos, 3);
            const char mark = text[pos + 3];
            if (openCode.empty() && mark == '-')
                openCode = code;
            else if (mark == ' ' && (openCode.empty() || openCode == code)) {
                openCode.clear();
                lastWasFinal = true;
            }
        }
        pos = end + 2;
    }
    return lastWasFinal;
}
