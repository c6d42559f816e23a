#pragma once
// kernel32 mutexes. A named mutex lives in the namespace of the machine's one session ("Local\"
// or no prefix) or in the global one ("Global\"), shared by every process of the machine;
// WaitForSingleObject (winsim/process.h) acquires it and ReleaseMutex gives it back.

#include <winsim/security_attributes.h>
#include <winsim/types.h>

#define WAIT_ABANDONED 0x00000080u
#define ERROR_NOT_OWNER 288L
#define ERROR_FILENAME_EXCED_RANGE 206L

// Creates the mutex, or opens the existing one of that name (last error ERROR_ALREADY_EXISTS;
// `initial_owner` is then ignored). Names compare case-sensitively and may not hold a backslash
// after the namespace prefix (ERROR_PATH_NOT_FOUND); more than MAX_PATH characters give
// ERROR_FILENAME_EXCED_RANGE. A null or empty name makes an unnamed mutex. The security
// attributes are not applied. Returns null on failure.
HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES attributes, BOOL initial_owner, LPCWSTR name);

// Gives up one level of the calling thread's ownership; the last one lets the next waiter in.
// A thread that does not own it: ERROR_NOT_OWNER.
BOOL ReleaseMutex(HANDLE mutex);
