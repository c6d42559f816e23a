#pragma once
// Core kernel32 services of the simulated host: the last error, handles, memory owned by the
// system, the standard handles, error texts, the process command line and process identity.

#include <winsim/types.h>

DWORD GetLastError();
void SetLastError(DWORD error);

BOOL CloseHandle(HANDLE handle);

#define LMEM_FIXED 0x0000u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
// Returns null on success, like Windows.
HLOCAL LocalFree(HLOCAL memory);

#define STD_INPUT_HANDLE (static_cast<DWORD>(-10))
#define STD_OUTPUT_HANDLE (static_cast<DWORD>(-11))
#define STD_ERROR_HANDLE (static_cast<DWORD>(-12))
HANDLE GetStdHandle(DWORD which);
BOOL SetStdHandle(DWORD which, HANDLE handle);

struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes_to_read, LPDWORD bytes_read,
              LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes_to_write, LPDWORD bytes_written,
               LPOVERLAPPED overlapped);
BOOL FlushFileBuffers(HANDLE file);

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_STRING 0x00000400u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FFu
// Supports FORMAT_MESSAGE_FROM_SYSTEM with IGNORE_INSERTS and an optional ALLOCATE_BUFFER.
// The text ends with "\r\n" as Windows' system texts do.
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id,
                     LPWSTR buffer, DWORD size, void* arguments);

LPWSTR GetCommandLineW();
// The returned block is one LocalAlloc allocation, released with LocalFree.
LPWSTR* CommandLineToArgvW(LPCWSTR command_line, int* argument_count);

DWORD GetCurrentProcessId();
HANDLE GetCurrentProcess();
void Sleep(DWORD milliseconds);
ULONGLONG GetTickCount64();
