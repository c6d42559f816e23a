#pragma once
// A process of the machine that this process did not start, reached through OpenProcess: it
// cannot be waited for as a POSIX child, so its end is watched through a pidfd (or its entry in
// /proc) and its exit code read from the machine's exit records.

#include <cstdint>
#include <mutex>

#include "processes/process_control.h"

namespace winsim {

class OpenedProcess : public ProcessControl {
  public:
    // The process that started at `start` as `pid`.
    OpenedProcess(pid_t pid, std::uint64_t start);
    ~OpenedProcess() override;
    OpenedProcess(const OpenedProcess&) = delete;
    OpenedProcess& operator=(const OpenedProcess&) = delete;

    pid_t pid() const override { return pid_; }
    DWORD wait(DWORD milliseconds) override;
    bool has_ended() override;
    // The recorded code; a process that ended without one (a parent outside the simulated host
    // reaped it) reads as 1, a plain kill's code.
    DWORD exit_code() override;
    bool terminate(DWORD code) override;

  private:
    pid_t pid_;
    std::uint64_t start_;
    int pidfd_ = -1;
    std::mutex mutex_;
};

}  // namespace winsim
