#pragma once
// kernel32's system directory and the path of the running program.

#include <winsim/types.h>

#define ERROR_MOD_NOT_FOUND 126L

// The machine's system directory, C:\Windows\System32 unless a test moved the Windows folder,
// created on first use with a cmd.exe stand-in that understands "/d /c exit N" (N from 0
// to 255) and refuses anything else with exit code 1. Returns the length without the zero
// when it fits, else the size needed with the zero (the buffer is left alone then).
UINT GetSystemDirectoryW(LPWSTR buffer, UINT size);

// Only module null (the running program; other modules: ERROR_MOD_NOT_FOUND), given as its
// Windows path (a drive folder of the machine, else Z: and the host path). Returns the length
// without the zero; when the buffer is too small the path is cut to size - 1 characters and a
// zero, and the call returns `size` with ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR file_name, DWORD size);
