#include <winsim/bcrypt.h>

#include "crypto/host_random.h"
#include "machine/faults.h"

NTSTATUS BCryptGenRandom(BCRYPT_ALG_HANDLE algorithm, PUCHAR buffer, ULONG length, ULONG flags) {
    if (auto fault = winsim::take_fault("BCryptGenRandom"))
        return static_cast<NTSTATUS>(fault->value);
    if (algorithm == nullptr && (flags & BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0)
        return STATUS_INVALID_HANDLE;
    if (buffer == nullptr && length > 0)
        return STATUS_INVALID_PARAMETER;
    if (!winsim::fill_host_random(buffer, length))
        return STATUS_INVALID_PARAMETER;
    return STATUS_SUCCESS;
}
