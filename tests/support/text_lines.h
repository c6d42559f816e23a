#pragma once
// What a program printed, line by line.

#include <sstream>
#include <string>
#include <vector>

namespace quarvel::testing {

// The lines of `text` without their line feeds; a last line without one still counts.
inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

}  // namespace quarvel::testing
