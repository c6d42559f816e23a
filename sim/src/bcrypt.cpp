#include <winsim/bcrypt.h>

#include <sys/random.h>
#include <cerrno>

#include "faults.h"

NTSTATUS BCryptGenRandom(BCRYPT_ALG_HANDLE algorithm, PUCHAR buffer, ULONG length, ULONG flags) {
    if (auto fault = winsim::take_fault("BCryptGenRandom"))
        return static_cast<NTSTATUS>(fault->value);
    if (algorithm == nullptr && (flags & BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0)
        return STATUS_INVALID_HANDLE;
    if (buffer == nullptr && length > 0)
        return STATUS_INVALID_PARAMETER;
    ULONG filled = 0;
    while (filled < length) {
        const ssize_t got = ::getrandom(buffer + filled, length - filled, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return STATUS_INVALID_PARAMETER;
        }
        filled += static_cast<ULONG>(got);
    }
    return STATUS_SUCCESS;
}
