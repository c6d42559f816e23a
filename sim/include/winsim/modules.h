#pragma once
// kernel32's loaded modules in the simulated host: only the system's own ntdll.dll, whose
// message table holds the NTSTATUS texts that FormatMessageW reads with FROM_HMODULE.

#include <winsim/types.h>

#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800u
#define ERROR_MOD_NOT_FOUND 126L

// "ntdll.dll" (any case, the extension optional) gives a handle that stays valid for the life
// of the process and is never freed; any other name null with ERROR_MOD_NOT_FOUND. Fault
// injection: null with the injected last error.
HMODULE GetModuleHandleW(LPCWSTR module_name);
