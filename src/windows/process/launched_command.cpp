#include "windows/process/launched_command.h"

namespace quarvel {

LaunchedCommand::LaunchedCommand(UniqueHandle stdout_read, UniqueHandle stderr_read,
                                 PrivateDesktop desktop, UniqueHandle process, UniqueHandle job,
                                 DWORD process_id)
    : stdout_read_(std::move(stdout_read)),
      stderr_read_(std::move(stderr_read)),
      desktop_(std::move(desktop)),
      process_(std::move(process)),
      job_(std::move(job)),
      process_id_(process_id) {}

LaunchedCommand& LaunchedCommand::operator=(LaunchedCommand&& other) noexcept {
    if (this != &other) {
        release();
        stdout_read_ = std::move(other.stdout_read_);
        stderr_read_ = std::move(other.stderr_read_);
        desktop_ = std::move(other.desktop_);
        process_ = std::move(other.process_);
        job_ = std::move(other.job_);
        process_id_ = other.process_id_;
    }
    return *this;
}

void LaunchedCommand::release() {
    process_.reset();
    // Kill-on-close: everything the command left running ends here, so that the read ends
    // below reach end of file.
    job_.reset();
    desktop_.handle.reset();
    desktop_.path = WideString();
    stdout_read_.reset();
    stderr_read_.reset();
}

}  // namespace quarvel
