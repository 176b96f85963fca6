#include "i18n/MessageText.h"

#include "i18n/Catalogue.h"

std::string ReplacePlaceholders(std::string_view text, std::initializer_list<MsgArg> args) {
    std::string out;
    out.reserve(text.size() + 64);
    std::size_t pos = 0;
    while (pos < text.size()) {
        const MsgArg* found = nullptr;
        for (const MsgArg& arg : args) {
            if (!arg.placeholder.empty() &&
                text.substr(pos, arg.placeholder.size()) == arg.placeholder) {
                found = &arg;
                break;
            }
        }
        if (found != nullptr) {
            out += found->value;
            pos += found->placeholder.size();
        } else {
            out += text[pos++];
        }
    }
    return out;
}

std::string GetMsgWith(const std::string& key, std::initializer_list<MsgArg> args) {
    return ReplacePlaceholders(GetMsg(key), args);
}
