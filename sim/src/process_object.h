#pragma once
// The kernel objects behind process and thread handles. Both refer to one ChildProcess: the
// POSIX child, its reaping, its recorded exit code and the gate that holds it before it runs.

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <optional>

#include "object.h"
#include "waitable.h"

namespace winsim {

class ChildProcess {
  public:
    // Takes ownership of `gate_fd`, the write end of the pipe the child waits on.
    ChildProcess(pid_t pid, int gate_fd);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }

    // Lets the child run its program. Returns the previous suspend count (1 or 0).
    DWORD release_gate();

    DWORD wait(DWORD milliseconds);
    bool has_ended();
    // Valid once has_ended().
    DWORD exit_code();

    // Records `code` where every holder finds it, then kills the child. False when it had
    // already ended.
    bool terminate(DWORD code);

  private:
    bool reap_locked(bool block);

    pid_t pid_;
    int pidfd_ = -1;
    std::mutex mutex_;
    int gate_fd_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    std::optional<DWORD> terminated_with_;
};

class ProcessObject : public KernelObject, public Waitable {
  public:
    explicit ProcessObject(std::shared_ptr<ChildProcess> child) : child_(std::move(child)) {}
    const char* type_name() const override { return "Process"; }
    DWORD wait(DWORD milliseconds) override { return child_->wait(milliseconds); }
    ChildProcess& child() { return *child_; }
    std::shared_ptr<ChildProcess> shared_child() const { return child_; }

  private:
    std::shared_ptr<ChildProcess> child_;
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
