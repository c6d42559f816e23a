#pragma once
// A thread that runs forward_output, whose end the worker can wait for or let go.

#include <memory>
#include <thread>

#include "cli/failure.h"
#include "windows/process/output_forwarding.h"

namespace quarvel {

class ForwardingThread {
  public:
    // Starts the thread with the platform's default stack size. A thread that cannot be
    // started, for whatever reason, gives output_forward_failed "Could not start protected
    // command output worker."; the read end and the channel reference are then released.
    static Result<ForwardingThread> start(UniqueHandle read_end,
                                          std::shared_ptr<SharedChannel> channel,
                                          OutputStream stream);

    ForwardingThread(ForwardingThread&&) noexcept = default;
    ForwardingThread& operator=(ForwardingThread&&) = delete;
    ForwardingThread(const ForwardingThread&) = delete;
    ForwardingThread& operator=(const ForwardingThread&) = delete;
    // A thread still running is let go, never destroyed while joinable.
    ~ForwardingThread() { let_go(); }

    // Waits for the thread. Its own result, or output_forward_failed "Protected command output
    // worker stopped unexpectedly." when it ended abnormally.
    Result<void> join();

    // Lets the thread run on without waiting for it; it ends with the process.
    void let_go();

  private:
    struct Outcome;
    ForwardingThread(std::shared_ptr<Outcome> outcome, std::thread thread)
        : outcome_(std::move(outcome)), thread_(std::move(thread)) {}

    std::shared_ptr<Outcome> outcome_;
    std::thread thread_;
};

}  // namespace quarvel
