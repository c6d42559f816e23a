#pragma once
// The worker's send lock: the connected pipe behind one mutex, shared by the main thread and
// the output forwarding threads so that their frames never interleave on the pipe.

#include <exception>
#include <memory>
#include <mutex>
#include <string_view>

#include "cli/failure.h"
#include "platform/unique_resource.h"
#include "windows/channel/worker_frame.h"

namespace quarvel {

class SharedChannel {
  public:
    // Each holder keeps one shared_ptr; the pipe is closed when the last one lets go.
    static std::shared_ptr<SharedChannel> create(UniqueHandle pipe);

    explicit SharedChannel(UniqueHandle pipe) : pipe_(std::move(pipe)) {}
    SharedChannel(const SharedChannel&) = delete;
    SharedChannel& operator=(const SharedChannel&) = delete;

    // Holding the lock. A holder that ends abnormally while holding it (an exception unwinding
    // past the guard) breaks the lock for good.
    class Guard {
      public:
        HANDLE pipe() const { return channel_->pipe_.get(); }
        ~Guard();
        Guard(Guard&& other) noexcept;
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
        Guard& operator=(Guard&&) = delete;

      private:
        friend class SharedChannel;
        Guard(SharedChannel& channel, std::unique_lock<std::mutex> lock);

        SharedChannel* channel_;
        std::unique_lock<std::mutex> lock_;
        int exceptions_at_entry_;
    };

    // The lock, or ipc_lock_failed "Protected communication lock failed." (70) once broken.
    Result<Guard> lock();

    // Takes the lock, writes one message with the frame (flush included), lets go whatever the
    // outcome.
    Result<void> send(const WorkerFrame& frame);

    // The same for a frame already serialised (an output frame built in place): only the write
    // happens under the lock.
    Result<void> send_body(std::string_view body);

  private:
    std::mutex mutex_;
    bool broken_ = false;  // guarded by mutex_
    UniqueHandle pipe_;
};

}  // namespace quarvel
