#pragma once
// A runner started as a separate process that a test keeps its hands on: to kill it at a chosen
// moment, to close its output, or to see which processes of a machine are still alive.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/host_process.h"

namespace quarvel::testing {

// Starts the program of `arguments` with `stream` (its standard output or standard error) on
// `output`, closed in the child when -1, its other streams discarded and `environment` added to
// its own; returns its pid.
inline pid_t start_runner(const std::vector<std::string>& arguments, int output,
                          int stream = STDOUT_FILENO,
                          const std::map<std::string, std::string>& environment = {}) {
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, stream == STDOUT_FILENO ? STDERR_FILENO : STDOUT_FILENO);
        if (output >= 0)
            ::dup2(output, stream);
        else
            ::close(stream);
        for (const auto& [name, value] : environment)
            ::setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv;
        for (const auto& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return child;
}

inline int exit_status_of(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Processes of this machine other than the test itself: the runner, its worker and the
// command all carry the machine in their environment.
inline std::vector<pid_t> machine_processes(const std::string& machine) {
    std::vector<pid_t> found;
    const std::string needle = "WINSIM_MACHINE=" + machine;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const auto pid = static_cast<pid_t>(std::stol(name));
        if (pid == ::getpid() || process_has_ended(pid))
            continue;
        std::ifstream environ_file(entry.path() / "environ", std::ios::binary);
        const std::string environment((std::istreambuf_iterator<char>(environ_file)), {});
        std::size_t at = 0;
        while (at < environment.size()) {
            const auto end = environment.find('\0', at);
            if (environment.compare(at, end - at, needle) == 0)
                found.push_back(pid);
            if (end == std::string::npos)
                break;
            at = end + 1;
        }
    }
    return found;
}

}  // namespace quarvel::testing
