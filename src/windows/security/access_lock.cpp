#include "windows/security/access_lock.h"

#include "windows/security/os_failure.h"

namespace quarvel {

void AccessLock::release() {
    if (!mutex_)
        return;
    // This thread took the mutex, so the release cannot be refused; were it refused, the
    // mutex would stay owned until the thread ends and Windows abandons it to the next waiter.
    ReleaseMutex(mutex_.get());
    mutex_.reset();
}

Result<AccessLock> acquire_access_lock() {
    auto mutex =
        checked_handle(CreateMutexW(nullptr, FALSE, WIDE("Local\\QuarvelSandboxAcl")),
                       "acl_lock_failed", "Could not open command protection access lock.");
    if (!mutex)
        return std::unexpected(std::move(mutex.error()));
    const DWORD waited = WaitForSingleObject(mutex->get(), INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
        return std::unexpected(fixed_failure("acl_lock_failed",
                                             "Could not acquire command protection access lock.",
                                             exit_code::internal));
    return AccessLock(std::move(*mutex));
}

}  // namespace quarvel
