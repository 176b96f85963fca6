#pragma once
#include <cstdint>
#include <string>

// One entry of a remote folder listing. The listing parser fills only the
// name and the folder mark; the other fields are there for callers that
// learn more about an entry.
struct clsFTPFile {
    std::int64_t dSize = 0;
    bool bDir = false;
    std::string rights;
    std::string strDate;
    std::string strName;
};
