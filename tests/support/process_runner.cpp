#include "support/process_runner.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace quarvel::testing {
namespace {

void close_pipe(int ends[2]) {
    for (int k = 0; k < 2; ++k) {
        if (ends[k] >= 0)
            ::close(ends[k]);
        ends[k] = -1;
    }
}

}  // namespace

ProcessOutcome run_process(const std::vector<std::string>& arguments,
                           const ProcessOptions& options) {
    int input[2], output[2], error[2];
    if (::pipe(input) != 0 || ::pipe(output) != 0 || ::pipe(error) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        ::dup2(input[0], 0);
        ::dup2(output[1], 1);
        ::dup2(error[1], 2);
        close_pipe(input);
        close_pipe(output);
        close_pipe(error);
        for (const auto& [name, value] : options.environment) {
            if (value == "\x01unset")
                ::unsetenv(name.c_str());
            else
                ::setenv(name.c_str(), value.c_str(), 1);
        }
        if (!options.working_directory.empty() && ::chdir(options.working_directory.c_str()) != 0)
            ::_exit(126);
        std::vector<char*> argv;
        for (const auto& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
    ::close(error[1]);
    if (!options.standard_input.empty()) {
        const ssize_t ignored =
            ::write(input[1], options.standard_input.data(), options.standard_input.size());
        (void)ignored;
    }
    ::close(input[1]);

    ProcessOutcome outcome;
    pollfd fds[2] = {{output[0], POLLIN, 0}, {error[0], POLLIN, 0}};
    std::string* sinks[2] = {&outcome.standard_output, &outcome.standard_error};
    int open_streams = 2;
    while (open_streams > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0)
                continue;
            char buffer[65536];
            const ssize_t got = ::read(fds[k].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[k]->append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                ::close(fds[k].fd);
                fds[k].fd = -1;
                --open_streams;
            }
        }
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    outcome.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return outcome;
}

std::vector<std::string> program_under_test() {
    const char* exe = std::getenv("QUARVEL_EXE");
    if (exe == nullptr)
        throw std::runtime_error("QUARVEL_EXE is not set");
    const std::string path(exe);
    if (path.size() > 4 && path.substr(path.size() - 4) == ".exe")
        return {"wine", path};
    return {path};
}

std::string lane() {
    const char* value = std::getenv("QUARVEL_LANE");
    return value != nullptr ? value : "host";
}

}  // namespace quarvel::testing
