#pragma once
// Windows compares account, group and privilege names without regard to letter case.

#include <algorithm>
#include <cctype>
#include <string_view>

namespace winsim {

inline bool equal_ignoring_ascii_case(std::string_view left, std::string_view right) {
    return std::equal(left.begin(), left.end(), right.begin(), right.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
}

}  // namespace winsim
