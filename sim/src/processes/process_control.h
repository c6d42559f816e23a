#pragma once
// What a process handle can do with the process it refers to, whether this process started it
// or opened it by its id.

#include <winsim/types.h>

#include <sys/types.h>

namespace winsim {

class ProcessControl {
  public:
    virtual ~ProcessControl() = default;

    virtual pid_t pid() const = 0;
    // WAIT_OBJECT_0 once the process has ended, WAIT_TIMEOUT when the time passes first.
    virtual DWORD wait(DWORD milliseconds) = 0;
    virtual bool has_ended() = 0;
    // The full 32-bit code; valid once has_ended().
    virtual DWORD exit_code() = 0;
    // Records `code` where every holder finds it, then kills the process. False when it had
    // already ended.
    virtual bool terminate(DWORD code) = 0;
};

}  // namespace winsim
