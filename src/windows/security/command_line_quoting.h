#pragma once
// Windows command lines: one UTF-16 text from an argument vector, quoted so that
// CommandLineToArgvW and the C runtime split it back into the same arguments.

#include <string>
#include <string_view>
#include <vector>

#include "cli/failure.h"
#include "platform/wide_text.h"

namespace quarvel {

// The argument as it appears on a command line: unchanged when it is not empty and holds no
// white space (the Unicode White_Space characters) and no double quote; otherwise enclosed in
// double quotes, with each run of backslashes doubled (plus one) before a double quote and
// doubled at the end, and each double quote escaped.
std::string quote_argument(std::string_view argument);

// The quoted arguments joined by single spaces, as wide text (c_str() is zero-terminated).
// Fails with invalid_request (exit code 64): "Command is empty." when there are no arguments
// or the program is empty; "Command argument contains a NUL character." when an argument
// holds U+0000, which would end the command line early and silently drop what follows.
Result<WideString> build_command_line(const std::vector<std::string>& arguments);

}  // namespace quarvel
