#pragma once
// The session-wide lock that serialises access-list changes between concurrent runs: the
// named mutex "Local\QuarvelSandboxAcl", shared by every process of one Windows session.

#include "cli/failure.h"
#include "platform/unique_resource.h"

namespace quarvel {

// Holding the lock. Releasing it (release(), or dropping the holder) calls ReleaseMutex and
// closes the handle, so that no path out of a caller can keep other runs waiting.
class AccessLock {
  public:
    explicit AccessLock(UniqueHandle mutex) : mutex_(std::move(mutex)) {}
    ~AccessLock() { release(); }
    AccessLock(AccessLock&& other) noexcept = default;
    AccessLock& operator=(AccessLock&& other) noexcept {
        if (this != &other) {
            release();
            mutex_ = std::move(other.mutex_);
        }
        return *this;
    }
    AccessLock(const AccessLock&) = delete;
    AccessLock& operator=(const AccessLock&) = delete;

    // Lets the next waiter in and closes the handle; nothing when no longer held.
    void release();

  private:
    UniqueHandle mutex_;
};

// Opens (or creates, with default security and not owned) the mutex and waits for it without
// a time limit. WAIT_ABANDONED counts as held: a holder that died left the lists to the next
// run, which may take over. Fails with acl_lock_failed: "Could not open command protection
// access lock." with the Windows error when the mutex cannot be opened, "Could not acquire
// command protection access lock." (no Windows error) when the wait gives anything else; the
// handle is closed then.
Result<AccessLock> acquire_access_lock();

}  // namespace quarvel
