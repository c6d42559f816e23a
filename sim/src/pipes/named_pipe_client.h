#pragma once
// The client side of a named pipe: what CreateFileW does for a name under "\\.\pipe\".

#include <winsim/types.h>

#include <string_view>

namespace winsim {

// True for names that CreateFileW must hand to open_named_pipe_client.
bool is_named_pipe_name(std::u16string_view name);

// Opens the pipe's instance as its client, blocking and in byte read mode. The caller's token
// must be granted `desired_access` (generic rights mapped as for files) by the pipe's DACL.
// Errors: no such pipe ERROR_FILE_NOT_FOUND; denied ERROR_ACCESS_DENIED; the instance taken
// ERROR_PIPE_BUSY; a disposition other than OPEN_EXISTING ERROR_INVALID_PARAMETER; overlapped
// I/O ERROR_NOT_SUPPORTED. Returns INVALID_HANDLE_VALUE with the last error set on failure.
HANDLE open_named_pipe_client(std::u16string_view name, DWORD desired_access,
                              DWORD creation_disposition, DWORD flags_and_attributes);

}  // namespace winsim
