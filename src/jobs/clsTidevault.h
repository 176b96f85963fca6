#pragma once
#include <cstdint>
#include <optional>
#include <string>

// Where an FTP job delivers to.
struct clsTidevault {
    std::string hostname;
    std::int32_t port = 0;
    std::string username;
    std::string password;
    std::optional<bool> bPassiveMode; // empty until set
    std::string RemoteDir;
};
