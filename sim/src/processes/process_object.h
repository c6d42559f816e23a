#pragma once
// The kernel objects behind process and thread handles. A process handle refers to a
// ProcessControl: a ChildProcess (the POSIX child this process started, its reaping, its
// recorded exit code and the gate that holds it before it runs) or an OpenedProcess (any
// process of the machine, opened by its id). A thread handle refers to a ChildProcess.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "machine/object.h"
#include "machine/waitable.h"
#include "processes/process_control.h"

namespace winsim {

class ChildProcess : public ProcessControl {
  public:
    // Takes ownership of `gate_fd`, the write end of the pipe the child waits on.
    ChildProcess(pid_t pid, int gate_fd);
    ~ChildProcess() override;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const override { return pid_; }

    // Lets the child run its program. Returns the previous suspend count (1 or 0).
    DWORD release_gate();

    DWORD wait(DWORD milliseconds) override;
    bool has_ended() override;
    DWORD exit_code() override;
    bool terminate(DWORD code) override;

  private:
    bool reap_locked(bool block);

    pid_t pid_;
    std::uint64_t start_ = 0;
    int pidfd_ = -1;
    std::mutex mutex_;
    int gate_fd_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    std::optional<DWORD> terminated_with_;
};

// The rights a process handle was granted: everything for the creator's handle, what the
// access check allowed for a handle from OpenProcess. Each call checks the rights it needs.
class ProcessObject : public KernelObject, public Waitable {
  public:
    ProcessObject(std::shared_ptr<ProcessControl> process, DWORD granted)
        : process_(std::move(process)), granted_(granted) {}
    const char* type_name() const override { return "Process"; }
    // Fails with ERROR_ACCESS_DENIED without SYNCHRONIZE.
    DWORD wait(DWORD milliseconds) override;
    ProcessControl& process() { return *process_; }
    // True when the handle holds every right in `rights`.
    bool grants(DWORD rights) const { return (granted_ & rights) == rights; }
    // True when it holds one of them.
    bool grants_any(DWORD rights) const { return (granted_ & rights) != 0; }

  private:
    std::shared_ptr<ProcessControl> process_;
    DWORD granted_;
};

// The primary thread: it ends with its process (the simulated host runs the program's own
// threads inside the POSIX process and gives them no handles of this kind).
class ThreadObject : public KernelObject, public Waitable {
  public:
    explicit ThreadObject(std::shared_ptr<ChildProcess> child) : child_(std::move(child)) {}
    const char* type_name() const override { return "Thread"; }
    DWORD wait(DWORD milliseconds) override { return child_->wait(milliseconds); }
    ChildProcess& child() { return *child_; }

  private:
    std::shared_ptr<ChildProcess> child_;
};

}  // namespace winsim
