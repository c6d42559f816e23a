#include "windows/security/command_line_quoting.h"

#include <algorithm>

namespace quarvel {
namespace {

// The Unicode White_Space property; all of it lies in the Basic Multilingual Plane.
bool is_white_space(char16_t c) {
    return (c >= 0x0009 && c <= 0x000D) || c == 0x0020 || c == 0x0085 || c == 0x00A0 ||
           c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

bool needs_quotes(std::string_view argument) {
    if (argument.empty() || argument.find('"') != std::string_view::npos)
        return true;
    const WideString wide = to_wide(argument);
    return std::any_of(wide.begin(), wide.end(),
                       [](WCHAR c) { return is_white_space(static_cast<char16_t>(c)); });
}

}  // namespace

std::string quote_argument(std::string_view argument) {
    if (!needs_quotes(argument))
        return std::string(argument);
    // Backslashes are literal unless a double quote follows them, so only runs that end at a
    // double quote or at the closing quote are doubled. UTF-8 continuation bytes never equal
    // a backslash or a double quote, so working on bytes is safe.
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(2 * backslashes + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        quoted += c;
        backslashes = 0;
    }
    quoted.append(2 * backslashes, '\\');
    quoted += '"';
    return quoted;
}

Result<WideString> build_command_line(const std::vector<std::string>& arguments) {
    if (arguments.empty() || arguments.front().empty())
        return std::unexpected(
            fixed_failure("invalid_request", "Command is empty.", exit_code::invalid_request));
    std::string line;
    for (const auto& argument : arguments) {
        if (argument.find('\0') != std::string::npos)
            return std::unexpected(fixed_failure("invalid_request",
                                                 "Command argument contains a NUL character.",
                                                 exit_code::invalid_request));
        if (!line.empty())
            line += ' ';
        line += quote_argument(argument);
    }
    return to_wide(line);
}

}  // namespace quarvel
