#pragma once
// WTF-8: UTF-8 that can also carry unpaired surrogates. The simulated host uses it wherever
// UTF-16 text from Windows must pass through POSIX byte strings (arguments, environment) and
// come back unchanged, unpaired surrogates included.

#include <string>
#include <string_view>

namespace winsim {

std::string wtf8_from_utf16(std::u16string_view text);
// Invalid bytes decode to U+FFFD each.
std::u16string utf16_from_wtf8(std::string_view bytes);

}  // namespace winsim
