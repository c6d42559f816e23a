#pragma once
// bcrypt: the system random generator.

#include <winsim/types.h>

using BCRYPT_ALG_HANDLE = void*;
#define BCRYPT_USE_SYSTEM_PREFERRED_RNG 0x00000002u
#define NT_SUCCESS(status) (static_cast<NTSTATUS>(status) >= 0)
#define STATUS_SUCCESS (static_cast<NTSTATUS>(0x00000000))
#define STATUS_INVALID_HANDLE (static_cast<NTSTATUS>(0xC0000008))
#define STATUS_INVALID_PARAMETER (static_cast<NTSTATUS>(0xC000000D))

// Fills the buffer from the system generator. Fault injection: the injected value is returned
// as the NTSTATUS.
NTSTATUS BCryptGenRandom(BCRYPT_ALG_HANDLE algorithm, PUCHAR buffer, ULONG length, ULONG flags);
