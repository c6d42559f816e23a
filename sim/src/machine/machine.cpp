#include "machine/machine.h"

#include <winsim/testing.h>

#include <winsim/kernel.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace winsim {
namespace {

std::string default_machine_directory() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data != '\0')
        return std::string(data) + "/winsim/machine";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "/tmp") + "/.local/share/winsim/machine";
}

constexpr DWORD kNoSystemResources = 1450;  // ERROR_NO_SYSTEM_RESOURCES

// An exclusive advisory lock on the machine, held for the lifetime of the object; error()
// says why it is not held.
class MachineLock {
  public:
    MachineLock() {
        fd_ = ::open((machine_directory() + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            error_ = errno == ENOENT ? static_cast<DWORD>(ERROR_PATH_NOT_FOUND)
                                     : static_cast<DWORD>(ERROR_ACCESS_DENIED);
            return;
        }
        int result = 0;
        while ((result = ::flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (result != 0)
            error_ = kNoSystemResources;
    }
    ~MachineLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    MachineLock(const MachineLock&) = delete;
    MachineLock& operator=(const MachineLock&) = delete;

    DWORD error() const { return error_; }

  private:
    int fd_ = -1;
    DWORD error_ = ERROR_SUCCESS;
};

nlohmann::json load(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        return nlohmann::json::object();
    std::stringstream text;
    text << in.rdbuf();
    auto parsed = nlohmann::json::parse(text.str(), nullptr, false);
    return parsed.is_discarded() ? nlohmann::json::object() : parsed;
}

}  // namespace

std::string machine_directory() {
    const char* named = std::getenv("WINSIM_MACHINE");
    std::string directory =
        named != nullptr && *named != '\0' ? named : default_machine_directory();
    std::error_code ignored;
    std::filesystem::create_directories(directory, ignored);
    return directory;
}

std::string process_record_path(pid_t pid, std::string_view extension) {
    const std::string directory = machine_directory() + "/processes";
    std::error_code ignored;
    std::filesystem::create_directories(directory, ignored);
    return directory + "/" + std::to_string(pid) + std::string(extension);
}

bool replace_file(const std::string& path, std::string_view text) {
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool written = true;
    while (written && !text.empty()) {
        const ssize_t put = ::write(fd, text.data(), text.size());
        if (put < 0 && errno == EINTR)
            continue;
        written = put > 0;
        if (written)
            text.remove_prefix(static_cast<std::size_t>(put));
    }
    written = ::close(fd) == 0 && written;
    if (written && ::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    ::unlink(temporary.c_str());
    return false;
}

DWORD with_machine_lock(const std::function<void()>& action) {
    MachineLock lock;
    if (lock.error() != ERROR_SUCCESS) {
        SetLastError(lock.error());
        return lock.error();
    }
    action();
    return ERROR_SUCCESS;
}

DWORD update_machine_state(std::string_view name,
                           const std::function<bool(nlohmann::json&)>& change) {
    return with_machine_lock([&] {
        const std::string path = machine_directory() + "/" + std::string(name);
        nlohmann::json state = load(path);
        if (!change(state))
            return;
        // Replaced whole, so that a reader without the lock never sees half a file.
        (void)replace_file(path, state.dump(2));
    });
}

nlohmann::json read_machine_state(std::string_view name) {
    nlohmann::json state;
    const auto read = [&] { state = load(machine_directory() + "/" + std::string(name)); };
    if (with_machine_lock(read) != ERROR_SUCCESS)
        read();
    return state;
}

}  // namespace winsim
