#pragma once
// Wide text: the UTF-16 form in which Windows takes and gives text and native paths.

#include <optional>
#include <string>
#include <string_view>

#include "platform/win32.h"

namespace quarvel {

using WideString = std::basic_string<WCHAR>;
using WideView = std::basic_string_view<WCHAR>;

// Decodes the UTF-8 character at `position` and moves past it. A byte that does not start a
// valid, shortest-form sequence of a scalar value gives nothing and moves past that one byte.
std::optional<char32_t> next_utf8_character(std::string_view text, std::size_t& position);

bool is_valid_utf8(std::string_view text);

// UTF-16 to UTF-8; each unpaired surrogate becomes U+FFFD.
std::string narrow_lossy(WideView text);

// UTF-16 to UTF-8; nothing when the text holds an unpaired surrogate.
std::optional<std::string> narrow_strict(WideView text);

// UTF-8 to UTF-16 (characters above U+FFFF as surrogate pairs). `c_str()` of the result is the
// zero-terminated form Windows reads; an interior NUL ends the text there, as Windows sees it.
// Each byte that is not part of valid UTF-8 becomes U+FFFD.
WideString to_wide(std::string_view utf8);

}  // namespace quarvel
