#pragma once

#include <span>
#include <string_view>

struct BuiltinMessage {
    std::string_view key;
    std::string_view text;
};

// Every message key with its English text, in catalogue order.
std::span<const BuiltinMessage> BuiltinMessages();
