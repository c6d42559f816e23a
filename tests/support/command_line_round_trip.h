#pragma once
// The round-trip property of command-line quoting, checked against whichever
// CommandLineToArgvW the test binary links: build_command_line, split, compare. Header-only,
// because both the host and the Wine test binaries use it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "support/argument_vectors.h"
#include "windows/security/command_line_quoting.h"

namespace quarvel::testing {

inline std::vector<std::string> split_with_windows(const WideString& line) {
    int count = 0;
    LocalPtr<LPWSTR> arguments(CommandLineToArgvW(line.c_str(), &count));
    std::vector<std::string> split;
    if (!arguments)
        return split;
    for (int k = 0; k < count; ++k)
        split.push_back(narrow_lossy(arguments.get()[k]));
    return split;
}

inline std::string printable(const std::vector<std::string>& vector) {
    std::string text;
    for (const auto& argument : vector) {
        text += "[";
        for (unsigned char c : argument) {
            static constexpr char kHex[] = "0123456789abcdef";
            if (c >= 0x20 && c < 0x7F) {
                text += static_cast<char>(c);
            } else {
                text += "\\x";
                text += kHex[c >> 4];
                text += kHex[c & 0xF];
            }
        }
        text += "] ";
    }
    return text;
}

inline void expect_round_trips(int count) {
    ArgumentVectorGenerator generator(0x5EED0F0A7C0FFEEull);
    int failures = 0;
    for (int k = 0; k < count && failures < 5; ++k) {
        const std::vector<std::string> original = generator.next();
        const auto line = build_command_line(original);
        ASSERT_TRUE(line.has_value()) << printable(original);
        const auto split = split_with_windows(*line);
        if (split != original) {
            ++failures;
            ADD_FAILURE() << "vector " << k << ": " << printable(original) << "\nsplit as "
                          << printable(split) << "\nline " << printable({narrow_lossy(*line)});
        }
    }
}

}  // namespace quarvel::testing
