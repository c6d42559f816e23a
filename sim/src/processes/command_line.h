#pragma once
// The CommandLineToArgvW rule, for the simulated host's own use (no fault injection, no
// LocalAlloc block).

#include <string>
#include <string_view>
#include <vector>

namespace winsim {

std::vector<std::u16string> split_windows_command_line(std::u16string_view line);

}  // namespace winsim
