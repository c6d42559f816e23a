#pragma once
// Finding the program and the current directory of a new process on the host.

#include <winsim/types.h>

#include <string>
#include <string_view>
#include <variant>

namespace winsim {

// The host path of the program named in Windows or host form, or the Windows error that
// CreateProcess gives: ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND (its folder does not exist),
// ERROR_ACCESS_DENIED (a directory), ERROR_BAD_EXE_FORMAT (a file that cannot run).
std::variant<std::string, DWORD> resolve_program(std::u16string_view program);

// The host path of a current directory, or ERROR_DIRECTORY.
std::variant<std::string, DWORD> resolve_directory(std::u16string_view directory);

}  // namespace winsim
