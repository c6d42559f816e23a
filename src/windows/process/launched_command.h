#pragma once
// A running, confined command and everything that keeps it confined.

#include "platform/unique_resource.h"
#include "windows/process/private_desktop.h"

namespace quarvel {

class LaunchedCommand {
  public:
    LaunchedCommand() = default;
    LaunchedCommand(UniqueHandle stdout_read, UniqueHandle stderr_read, PrivateDesktop desktop,
                    UniqueHandle process, UniqueHandle job, DWORD process_id);
    ~LaunchedCommand() { release(); }
    LaunchedCommand(LaunchedCommand&&) noexcept = default;
    LaunchedCommand& operator=(LaunchedCommand&& other) noexcept;
    LaunchedCommand(const LaunchedCommand&) = delete;
    LaunchedCommand& operator=(const LaunchedCommand&) = delete;

    // Closes, in this order: the process handle; the job (which ends every process still in
    // it); the desktop; its path; the standard output and standard error read ends if they are
    // still here. Idempotent.
    void release();

    // The read ends, taken out for the forwarding threads; empty once taken.
    UniqueHandle take_stdout() { return std::move(stdout_read_); }
    UniqueHandle take_stderr() { return std::move(stderr_read_); }

    HANDLE process() const { return process_.get(); }
    DWORD process_id() const { return process_id_; }

  private:
    UniqueHandle stdout_read_;
    UniqueHandle stderr_read_;
    PrivateDesktop desktop_;
    UniqueHandle process_;
    UniqueHandle job_;
    DWORD process_id_ = 0;
};

}  // namespace quarvel
