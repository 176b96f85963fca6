#pragma once
#include <cstdint>
#include <string>

// One entry of the message catalogue.
struct clsString {
    std::string Nam;
    std::int32_t Index = 0;
    std::string Txt;

    void Fill(const std::string& name, const std::string& text) {
        Nam = name;
        Txt = text;
    }
};
