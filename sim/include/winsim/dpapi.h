#pragma once
// crypt32's data protection (DPAPI) in the simulated host. Blobs are sealed with a key of the
// machine (drawn on first use, kept in the machine directory): an authenticated construction
// (HMAC-SHA-256 keystream and tag), so a changed byte, a blob of another machine or, without
// CRYPTPROTECT_LOCAL_MACHINE, a blob of another user is refused.

#include <winsim/types.h>

struct DATA_BLOB {
    DWORD cbData;
    BYTE* pbData;
};
using PDATA_BLOB = DATA_BLOB*;

struct CRYPTPROTECT_PROMPTSTRUCT {
    DWORD cbSize;
    DWORD dwPromptFlags;
    void* hwndApp;
    LPCWSTR szPrompt;
};

#define CRYPTPROTECT_UI_FORBIDDEN 0x1u
#define CRYPTPROTECT_LOCAL_MACHINE 0x4u
#define CRYPTPROTECT_AUDIT 0x10u
#define CRYPTPROTECT_VERIFY_PROTECTION 0x40u
#define CRYPTPROTECT_PROMPT_ON_UNPROTECT 0x1u
#define CRYPTPROTECT_PROMPT_ON_PROTECT 0x2u

#define ERROR_INVALID_DATA 13L
#define ERROR_PASSWORD_RESTRICTION 1325L
#define NTE_BAD_KEY_STATE (static_cast<LONG>(0x8009000Bu))

// Seals the input for this machine (CRYPTPROTECT_LOCAL_MACHINE) or for the calling user; the
// description travels with the blob. `out->pbData` is one LocalAlloc block. Errors: null input
// or output, input bytes missing, a reserved pointer: ERROR_INVALID_PARAMETER; a prompt
// together with CRYPTPROTECT_UI_FORBIDDEN: ERROR_PASSWORD_RESTRICTION. Fault injection: FALSE
// with the injected last error.
BOOL CryptProtectData(DATA_BLOB* in, LPCWSTR description, DATA_BLOB* entropy, PVOID reserved,
                      CRYPTPROTECT_PROMPTSTRUCT* prompt, DWORD flags, DATA_BLOB* out);

// Opens a blob of CryptProtectData; the blob, not the flags, says which scope it belongs to.
// `out->pbData` and `*description` (when asked for) are LocalAlloc blocks. Errors: as above,
// and ERROR_INVALID_DATA for bytes that are no blob or whose seal does not verify (a changed
// byte, other entropy); NTE_BAD_KEY_STATE for a blob sealed with another machine's key or, in
// user scope, for another user. Fault injection: FALSE with the injected last error.
BOOL CryptUnprotectData(DATA_BLOB* in, LPWSTR* description, DATA_BLOB* entropy, PVOID reserved,
                        CRYPTPROTECT_PROMPTSTRUCT* prompt, DWORD flags, DATA_BLOB* out);
