#pragma once
// One end of a connected named pipe: a stream socket, read and written as Windows reads and
// writes a byte-mode pipe.

#include <atomic>

#include <winsim/pipes.h>

#include "machine/object.h"

namespace winsim {

class NamedPipeEnd : public KernelObject {
  public:
    NamedPipeEnd(bool can_read, bool can_write, bool nowait)
        : can_read_(can_read), can_write_(can_write), nowait_(nowait) {}
    ~NamedPipeEnd() override;
    NamedPipeEnd(const NamedPipeEnd&) = delete;
    NamedPipeEnd& operator=(const NamedPipeEnd&) = delete;

    const char* type_name() const override { return "Pipe"; }

    // Reads what is there, up to `size`; waits for data unless in no-wait mode (then
    // ERROR_NO_DATA). The peer gone and nothing left: ERROR_BROKEN_PIPE.
    DWORD read(void* buffer, DWORD size, DWORD& transferred) override;
    // Writes everything, waiting for room; in no-wait mode writes what fits, possibly nothing.
    // The peer gone: ERROR_NO_DATA.
    DWORD write(const void* buffer, DWORD size, DWORD& transferred) override;
    // Returns once the peer has read everything written, as FlushFileBuffers does on a pipe.
    DWORD flush() override;

    // GetNamedPipeClientProcessId: 0 and the client's process id, or the error. A client end
    // answers with its own process (handles to it never leave the process that opened it).
    virtual DWORD client_process_id(DWORD& process_id);

    void set_nowait(bool nowait) { nowait_ = nowait; }
    bool nowait() const { return nowait_; }

  protected:
    // Takes ownership of the connected socket.
    void attach(int fd) { connection_ = fd; }
    int connection() const { return connection_; }
    // The error for I/O before a connection exists.
    virtual DWORD not_connected_error() const { return ERROR_PIPE_NOT_CONNECTED; }

  private:
    const bool can_read_;
    const bool can_write_;
    std::atomic<bool> nowait_;
    std::atomic<int> connection_{-1};
};

}  // namespace winsim
