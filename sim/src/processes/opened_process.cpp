#include "processes/opened_process.h"

#include <winsim/process.h>

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <thread>

#include "processes/exit_record.h"
#include "processes/process_identity.h"

namespace winsim {

OpenedProcess::OpenedProcess(pid_t pid, std::uint64_t start) : pid_(pid), start_(start) {
    pidfd_ = open_pidfd(pid);
    // The id may have passed to another process between the caller's look and this one.
    if (pidfd_ >= 0 && process_start_time(pid) != start) {
        ::close(pidfd_);
        pidfd_ = -1;
    }
}

OpenedProcess::~OpenedProcess() {
    if (pidfd_ >= 0)
        ::close(pidfd_);
}

bool OpenedProcess::has_ended() {
    return !is_same_live_process(pid_, start_);
}

DWORD OpenedProcess::wait(DWORD milliseconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (has_ended())
            return WAIT_OBJECT_0;
        if (milliseconds != INFINITE && Clock::now() >= deadline)
            return WAIT_TIMEOUT;
        if (pidfd_ >= 0) {
            int timeout = -1;
            if (milliseconds != INFINITE) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
                timeout = static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
            }
            pollfd entry{pidfd_, POLLIN, 0};
            if (::poll(&entry, 1, timeout) < 0 && errno != EINTR)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

DWORD OpenedProcess::exit_code() {
    if (const auto recorded = recorded_exit_code(pid_, start_))
        return *recorded;
    // Ended by its own return from main and not yet reaped: the kernel still holds its status.
    if (const auto status = zombie_wait_status(pid_, start_))
        return windows_exit_code(*status, std::nullopt);
    return 1;
}

bool OpenedProcess::terminate(DWORD code) {
    std::lock_guard lock(mutex_);
    if (has_ended())
        return false;
    record_exit_code(pid_, start_, code);
#ifdef SYS_pidfd_send_signal
    if (pidfd_ >= 0 && ::syscall(SYS_pidfd_send_signal, pidfd_, SIGKILL, nullptr, 0) == 0)
        return true;
#endif
    ::kill(pid_, SIGKILL);
    return true;
}

}  // namespace winsim
