#include "support/host_process.h"

#include <unistd.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace quarvel::testing {

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
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    if (!stat)
        return true;
    const std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto paren = text.rfind(')');
    if (paren == std::string::npos || paren + 2 >= text.size())
        return true;
    const char state = text[paren + 2];
    return state == 'Z' || state == 'X';
}

std::vector<pid_t> live_children() {
    std::vector<pid_t> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        const std::string text((std::istreambuf_iterator<char>(stat)), {});
        const auto paren = text.rfind(')');
        if (paren == std::string::npos || paren + 2 >= text.size())
            continue;
        std::istringstream fields(text.substr(paren + 2));
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
