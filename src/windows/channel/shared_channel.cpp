#include "windows/channel/shared_channel.h"

#include "windows/channel/message_framing.h"

namespace quarvel {

std::shared_ptr<SharedChannel> SharedChannel::create(UniqueHandle pipe) {
    return std::make_shared<SharedChannel>(std::move(pipe));
}

SharedChannel::Guard::Guard(SharedChannel& channel, std::unique_lock<std::mutex> lock)
    : channel_(&channel),
      lock_(std::move(lock)),
      exceptions_at_entry_(std::uncaught_exceptions()) {}

SharedChannel::Guard::Guard(Guard&& other) noexcept
    : channel_(other.channel_),
      lock_(std::move(other.lock_)),
      exceptions_at_entry_(other.exceptions_at_entry_) {}

SharedChannel::Guard::~Guard() {
    // Unwinding through a held guard means a frame may have been cut short on the pipe: nobody
    // may write after it.
    if (lock_.owns_lock() && std::uncaught_exceptions() > exceptions_at_entry_)
        channel_->broken_ = true;
}

Result<SharedChannel::Guard> SharedChannel::lock() {
    std::unique_lock held(mutex_);
    if (broken_)
        return std::unexpected(fixed_failure(
            "ipc_lock_failed", "Protected communication lock failed.", exit_code::internal));
    return Guard(*this, std::move(held));
}

Result<void> SharedChannel::send(const WorkerFrame& frame) {
    auto guard = lock();
    if (!guard)
        return std::unexpected(std::move(guard.error()));
    return write_message(guard->pipe(), frame);
}

Result<void> SharedChannel::send_body(std::string_view body) {
    auto guard = lock();
    if (!guard)
        return std::unexpected(std::move(guard.error()));
    return write_message_body(guard->pipe(), body);
}

}  // namespace quarvel
