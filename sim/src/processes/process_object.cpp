#include "processes/process_object.h"

#include <winsim/kernel.h>
#include <winsim/process.h>
#include <winsim/security.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <thread>
#include <vector>

#include "processes/exit_record.h"
#include "processes/process_identity.h"

namespace winsim {
namespace {

// Children whose last handle closed while they still ran: reaped later so that they do not
// stay zombies for the life of this process.
struct Orphans {
    std::mutex mutex;
    std::vector<pid_t> pids;
};

Orphans& orphans() {
    // Never destroyed: process handles still close while the process exits.
    static auto* instance = new Orphans;
    return *instance;
}

void reap_orphans() {
    auto& list = orphans();
    std::lock_guard lock(list.mutex);
    std::erase_if(list.pids, [](pid_t pid) {
        int status = 0;
        return ::waitpid(pid, &status, WNOHANG) != 0;
    });
}

// Waits until the descriptor is readable or the time is up; true when readable.
bool poll_readable(int fd, DWORD milliseconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        int timeout = -1;
        if (milliseconds != INFINITE) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            timeout = static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
        }
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, timeout);
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready == 0 && milliseconds != INFINITE && Clock::now() >= deadline)
            return false;
    }
}

}  // namespace

ChildProcess::ChildProcess(pid_t pid, int gate_fd)
    : pid_(pid),
      start_(process_start_time(pid).value_or(0)),
      pidfd_(open_pidfd(pid)),
      gate_fd_(gate_fd) {
    reap_orphans();
}

ChildProcess::~ChildProcess() {
    // A child still held before its program is released by the end of the gate and exits.
    if (gate_fd_ >= 0)
        ::close(gate_fd_);
    if (!reaped_ && !reap_locked(false)) {
        auto& list = orphans();
        std::lock_guard lock(list.mutex);
        list.pids.push_back(pid_);
    }
    if (pidfd_ >= 0)
        ::close(pidfd_);
}

bool ChildProcess::reap_locked(bool block) {
    if (reaped_)
        return true;
    for (;;) {
        const pid_t got = ::waitpid(pid_, &status_, block ? 0 : WNOHANG);
        if (got == pid_)
            break;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            // Not our child any more (someone else reaped it): treat it as ended by kill.
            status_ = SIGKILL;
            break;
        }
        return false;
    }
    reaped_ = true;
    const auto recorded = recorded_exit_code(pid_, start_);
    if (!terminated_with_ && recorded)
        terminated_with_ = recorded;
    // Whoever opened the process by its id finds its code there once it is reaped.
    if (!recorded)
        record_exit_code(pid_, start_, windows_exit_code(status_, terminated_with_));
    return true;
}

DWORD ChildProcess::release_gate() {
    std::lock_guard lock(mutex_);
    if (gate_fd_ < 0)
        return 0;
    const char go = 1;
    // The child may be gone already (terminated while suspended); nothing to release then.
    [[maybe_unused]] const auto written = ::write(gate_fd_, &go, 1);
    ::close(gate_fd_);
    gate_fd_ = -1;
    return 1;
}

bool ChildProcess::has_ended() {
    std::lock_guard lock(mutex_);
    return reap_locked(false);
}

DWORD ChildProcess::wait(DWORD milliseconds) {
    if (has_ended())
        return WAIT_OBJECT_0;
    if (milliseconds == 0)
        return WAIT_TIMEOUT;
    if (pidfd_ >= 0) {
        if (!poll_readable(pidfd_, milliseconds))
            return has_ended() ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
        std::lock_guard lock(mutex_);
        reap_locked(true);
        return WAIT_OBJECT_0;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (milliseconds == INFINITE || std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (has_ended())
            return WAIT_OBJECT_0;
    }
    return WAIT_TIMEOUT;
}

DWORD ChildProcess::exit_code() {
    std::lock_guard lock(mutex_);
    return windows_exit_code(status_, terminated_with_);
}

bool ChildProcess::terminate(DWORD code) {
    std::lock_guard lock(mutex_);
    if (reap_locked(false))
        return false;
    terminated_with_ = code;
    record_exit_code(pid_, start_, code);
    ::kill(pid_, SIGKILL);
    return true;
}

DWORD ProcessObject::wait(DWORD milliseconds) {
    if (!grants(SYNCHRONIZE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return WAIT_FAILED;
    }
    return process_->wait(milliseconds);
}

}  // namespace winsim
