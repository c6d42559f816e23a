#pragma once
// Mutexes of the simulated host. Within a process, one Mutex per name serves every handle and
// thread; between the processes of a machine, ownership is an exclusive flock on
// <machine>/mutexes/<key>.owner held by the owning process, which writes its process and
// thread into that file and empties it when it lets go. A process that ends while it owns the
// mutex leaves the file written and its flock released by the kernel, so the next process to
// take the lock finds the mark of an abandoned mutex. Whether the name already exists is a
// shared flock on <key>.open that every process with a handle holds.

#include <winsim/types.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "machine/object.h"
#include "machine/waitable.h"

namespace winsim {

class Mutex : public std::enable_shared_from_this<Mutex> {
  public:
    // An unnamed mutex: this process only.
    Mutex() = default;
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // The mutex of `key` (the namespace and name) in this process, made or joined; `existed`
    // tells whether any process of the machine had it open. Null with the last error set when
    // the machine's files cannot be used.
    static std::shared_ptr<Mutex> open_named(const std::string& key, bool& existed);

    // WAIT_OBJECT_0 (also for a thread that already owns it: one level more), WAIT_ABANDONED
    // when the previous owner ended without releasing it, WAIT_TIMEOUT, or WAIT_FAILED with the
    // last error set.
    DWORD acquire(DWORD milliseconds);

    // ERROR_SUCCESS, or ERROR_NOT_OWNER for a thread that does not own it.
    DWORD release();

  private:
    DWORD take_between_processes(std::chrono::steady_clock::time_point deadline, bool forever);

    std::mutex state_mutex_;
    std::condition_variable changed_;
    std::optional<std::thread::id> owner_;
    unsigned levels_ = 0;
    bool claiming_ = false;
    // Ownership outlives the handles: a mutex owned when its last handle closes stays owned,
    // as on Windows, until its thread releases it or its process ends.
    std::shared_ptr<Mutex> kept_while_owned_;
    std::string key_;
    int owner_fd_ = -1;
    int open_fd_ = -1;
};

// A handle's object: waiting on it acquires the mutex.
class MutexObject : public KernelObject, public Waitable {
  public:
    explicit MutexObject(std::shared_ptr<Mutex> mutex) : mutex_(std::move(mutex)) {}
    const char* type_name() const override { return "Mutant"; }
    DWORD wait(DWORD milliseconds) override { return mutex_->acquire(milliseconds); }
    Mutex& mutex() { return *mutex_; }

  private:
    std::shared_ptr<Mutex> mutex_;
};

}  // namespace winsim
