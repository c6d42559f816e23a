#pragma once
// The server end of a named pipe instance: listens for one client, then is one end of the
// connection.

#include <mutex>
#include <optional>

#include "named_pipe_end.h"
#include "named_pipe_registry.h"

namespace winsim {

class NamedPipeServer : public NamedPipeEnd {
  public:
    // Registers the pipe and starts listening; the error is CreateNamedPipeW's.
    struct Created;
    static Created create(const std::string& key, bool first_instance, const PipeRecord& record,
                          bool can_read, bool can_write, bool nowait);

    NamedPipeServer(PipeLocation location, FileLock lock, int listener, bool can_read,
                    bool can_write, bool nowait);
    ~NamedPipeServer() override;

    // ConnectNamedPipe: TRUE-worthy 0, or the error it reports.
    DWORD connect();

  protected:
    DWORD not_connected_error() const override { return ERROR_PIPE_LISTENING; }

  private:
    enum class State { listening, connected, closing };
    void stop_listening();

    std::mutex mutex_;
    PipeLocation location_;
    FileLock lock_;
    int listener_;
    State state_ = State::listening;
};

// A connected socket to the pipe's listener, or -1 with errno set.
int connect_to_pipe_socket(const std::string& name);

struct NamedPipeServer::Created {
    std::shared_ptr<NamedPipeServer> server;
    DWORD error = 0;
};

}  // namespace winsim
