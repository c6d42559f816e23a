#include "support/host_process.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace quarvel::testing {
namespace {

// /proc/<pid>/stat, or nothing once the process is gone. A process that ends between the open
// and the read makes the read fail (ESRCH), which std::filebuf would throw for.
std::optional<std::string> stat_text(const std::string& pid) {
    const int fd = ::open(("/proc/" + pid + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string text;
    char buffer[1024];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
        if (got > 0)
            text.append(buffer, static_cast<std::size_t>(got));
    ::close(fd);
    if (got < 0)
        return std::nullopt;
    return text;
}

}  // namespace

std::string use_fresh_machine() {
    char pattern[] = "/tmp/quarvel-machine-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    ::setenv("WINSIM_MACHINE", pattern, 1);
    return pattern;
}

std::string test_program(const std::string& name) {
    return std::string(QUARVEL_TEST_PROGRAM_DIR) + "/" + name;
}

std::string windows_form(const std::string& host_path) {
    std::string path = "Z:" + host_path;
    for (auto& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

bool process_has_ended(pid_t pid) {
    const auto text = stat_text(std::to_string(pid));
    if (!text)
        return true;
    const auto paren = text->rfind(')');
    if (paren == std::string::npos || paren + 2 >= text->size())
        return true;
    const char state = (*text)[paren + 2];
    return state == 'Z' || state == 'X';
}

std::vector<pid_t> live_children() {
    std::vector<pid_t> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const auto text = stat_text(name);
        if (!text)
            continue;
        const auto paren = text->rfind(')');
        if (paren == std::string::npos || paren + 2 >= text->size())
            continue;
        std::istringstream fields(text->substr(paren + 2));
        char state = '?';
        long parent = 0;
        fields >> state >> parent;
        if (parent == ::getpid() && state != 'Z' && state != 'X')
            children.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return children;
}

bool wait_until_ended(pid_t pid, int milliseconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!process_has_ended(pid)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace quarvel::testing
