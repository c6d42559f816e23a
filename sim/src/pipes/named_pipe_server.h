#pragma once
// The server end of a named pipe instance: listens for one client, then is one end of the
// connection.

#include <mutex>
#include <optional>

#include "pipes/named_pipe_end.h"
#include "pipes/named_pipe_registry.h"

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

    // A client that has connected is the server's peer at once, whether or not the server has
    // called ConnectNamedPipe yet, so I/O first takes in a waiting client.
    DWORD read(void* buffer, DWORD size, DWORD& transferred) override;
    DWORD write(const void* buffer, DWORD size, DWORD& transferred) override;
    DWORD flush() override;

    // The process that connected (also once it has closed its end again); before any client
    // ERROR_PIPE_LISTENING.
    DWORD client_process_id(DWORD& process_id) override;

  protected:
    DWORD not_connected_error() const override { return ERROR_PIPE_LISTENING; }

  private:
    enum class State { listening, connected, closing };
    void stop_listening();
    // Takes in a client waiting on the listener, if any; the caller holds mutex_.
    void adopt_waiting_client();

    std::mutex mutex_;
    PipeLocation location_;
    FileLock lock_;
    int listener_;
    State state_ = State::listening;
    DWORD client_pid_ = 0;
};

// A connected socket to the pipe's listener, or -1 with errno set.
int connect_to_pipe_socket(const std::string& name);

struct NamedPipeServer::Created {
    std::shared_ptr<NamedPipeServer> server;
    DWORD error = 0;
};

}  // namespace winsim
