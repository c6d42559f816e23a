#pragma once
// What a program tries to do with files and folders, each reduced to 0 or the Windows error of
// the step that failed, so that a check can judge it.

#include <cstdint>
#include <string_view>

#include "platform/wide_text.h"

namespace quarvel::selftest {

// A new file (never an existing one) holding `bytes`.
std::uint32_t try_create_file(WideView path, std::string_view bytes);
// `bytes` appended to an existing file.
std::uint32_t try_append_to_file(WideView path, std::string_view bytes);
// Every byte of an existing file.
std::uint32_t try_read_file(WideView path);
std::uint32_t try_delete_file(WideView path);
std::uint32_t try_create_directory(WideView path);
std::uint32_t try_remove_directory(WideView path);
// Opens a folder for listing its entries.
std::uint32_t try_list_directory(WideView path);

}  // namespace quarvel::selftest
