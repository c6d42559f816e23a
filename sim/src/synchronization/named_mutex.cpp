#include "synchronization/named_mutex.h"

#include <winsim/kernel.h>
#include <winsim/synchronization.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>

#include "machine/fd_object.h"
#include "machine/machine.h"

namespace winsim {
namespace {

using Clock = std::chrono::steady_clock;

// Mutex names may be as long as MAX_PATH characters, too long for a file name: the files are
// named by a 64-bit FNV-1a hash of the key instead.
std::string file_stem(const std::string& key) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const unsigned char byte : key) {
        hash ^= byte;
        hash *= 0x100000001b3ULL;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return machine_directory() + "/mutexes/" + text;
}

int open_lock_file(const std::string& path) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

int lock_retrying(int fd, int operation) {
    int result = 0;
    while ((result = ::flock(fd, operation)) != 0 && errno == EINTR) {
    }
    return result;
}

struct Registry {
    std::mutex mutex;
    std::map<std::string, std::weak_ptr<Mutex>> by_key;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

// Marks the mutex as owned by this process and thread, for the abandonment check of whoever
// takes it next.
void write_owner_mark(int fd) {
    const std::string mark =
        std::to_string(::getpid()) + " " + std::to_string(static_cast<long>(::gettid())) + "\n";
    if (::ftruncate(fd, 0) == 0)
        (void)::pwrite(fd, mark.data(), mark.size(), 0);
}

}  // namespace

Mutex::~Mutex() {
    if (owner_fd_ >= 0)
        ::close(owner_fd_);
    if (open_fd_ >= 0)
        ::close(open_fd_);
}

std::shared_ptr<Mutex> Mutex::open_named(const std::string& key, bool& existed) {
    auto& known = registry();
    std::lock_guard guard(known.mutex);
    if (auto found = known.by_key[key].lock()) {
        existed = true;
        return found;
    }
    auto made = std::make_shared<Mutex>();
    made->key_ = key;
    const std::string stem = file_stem(key);
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(stem).parent_path(), ignored);
    made->owner_fd_ = open_lock_file(stem + ".owner");
    made->open_fd_ = open_lock_file(stem + ".open");
    if (made->owner_fd_ < 0 || made->open_fd_ < 0) {
        SetLastError(windows_error_from_errno(errno));
        return nullptr;
    }
    // Under the machine lock nobody else is between these two steps: whoever holds the name
    // open holds it shared, so an exclusive lock succeeds only for the first process.
    bool first = false;
    const DWORD locked = with_machine_lock([&] {
        first = ::flock(made->open_fd_, LOCK_EX | LOCK_NB) == 0;
        if (first)
            (void)::ftruncate(made->owner_fd_, 0);  // a new mutex: no abandonment to report
        (void)lock_retrying(made->open_fd_, LOCK_SH);
    });
    if (locked != ERROR_SUCCESS)
        return nullptr;
    existed = !first;
    known.by_key[key] = made;
    return made;
}

DWORD Mutex::take_between_processes(Clock::time_point deadline, bool forever) {
    for (;;) {
        if (::flock(owner_fd_, forever ? LOCK_EX : LOCK_EX | LOCK_NB) == 0)
            break;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK) {
            SetLastError(windows_error_from_errno(errno));
            return WAIT_FAILED;
        }
        const auto now = Clock::now();
        if (now >= deadline)
            return WAIT_TIMEOUT;
        std::this_thread::sleep_for(
            std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(2)));
    }
    struct stat status {};
    const bool abandoned = ::fstat(owner_fd_, &status) == 0 && status.st_size > 0;
    write_owner_mark(owner_fd_);
    return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

DWORD Mutex::acquire(DWORD milliseconds) {
    const bool forever = milliseconds == INFINITE;
    const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);
    const auto me = std::this_thread::get_id();
    std::unique_lock lock(state_mutex_);
    if (owner_ == me) {
        ++levels_;
        return WAIT_OBJECT_0;
    }
    const auto free = [&] { return !owner_ && !claiming_; };
    if (forever)
        changed_.wait(lock, free);
    else if (!changed_.wait_until(lock, deadline, free))
        return WAIT_TIMEOUT;
    DWORD result = WAIT_OBJECT_0;
    if (owner_fd_ >= 0) {
        claiming_ = true;
        lock.unlock();
        result = take_between_processes(deadline, forever);
        lock.lock();
        claiming_ = false;
    }
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
        owner_ = me;
        levels_ = 1;
        kept_while_owned_ = shared_from_this();
    } else {
        changed_.notify_all();
    }
    return result;
}

DWORD Mutex::release() {
    std::shared_ptr<Mutex> kept;  // destroyed last, after the lock below is let go
    std::unique_lock lock(state_mutex_);
    if (owner_ != std::this_thread::get_id())
        return ERROR_NOT_OWNER;
    if (--levels_ > 0)
        return ERROR_SUCCESS;
    if (owner_fd_ >= 0) {
        (void)::ftruncate(owner_fd_, 0);
        (void)lock_retrying(owner_fd_, LOCK_UN);
    }
    owner_.reset();
    kept = std::move(kept_while_owned_);
    changed_.notify_all();
    lock.unlock();
    return ERROR_SUCCESS;
}

}  // namespace winsim
