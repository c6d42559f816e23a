#pragma once
// Why bytes are not UTF-8, in the words of the program's UTF-8 decoder.

#include <optional>
#include <string>
#include <string_view>

namespace quarvel {

// Nothing for valid UTF-8 (shortest forms of scalar values only). Otherwise a description of
// the first invalid sequence: "invalid utf-8 sequence of N bytes from index I", where the N
// bytes from index I cannot start any valid sequence, or "incomplete utf-8 byte sequence from
// index I" when the text ends inside a sequence that could still have been valid.
std::optional<std::string> utf8_error_description(std::string_view bytes);

}  // namespace quarvel
