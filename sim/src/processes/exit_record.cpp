#include "processes/exit_record.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "machine/machine.h"

namespace winsim {
namespace {

// Codes Windows gives a process that ends the way the signal ended this one. A plain kill has
// no Windows counterpart other than termination by another process; it reads as 1.
DWORD code_for_signal(int signal) {
    switch (signal) {
        case SIGSEGV:
        case SIGBUS:
            return 0xC0000005;  // STATUS_ACCESS_VIOLATION
        case SIGILL:
            return 0xC000001D;  // STATUS_ILLEGAL_INSTRUCTION
        case SIGFPE:
            return 0xC0000094;  // STATUS_INTEGER_DIVIDE_BY_ZERO
        case SIGABRT:
            return 3;  // what abort() exits with on Windows
        default:
            return 1;
    }
}

}  // namespace

void record_exit_code(pid_t pid, std::uint64_t start, DWORD code) {
    (void)replace_file(process_record_path(pid, ".exit"),
                       std::to_string(code) + " " + std::to_string(start));
}

std::optional<DWORD> recorded_exit_code(pid_t pid, std::uint64_t start) {
    const int fd = ::open(process_record_path(pid, ".exit").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char text[64] = {};
    const ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (got <= 0)
        return std::nullopt;
    char* rest = nullptr;
    const auto code = std::strtoul(text, &rest, 10);
    if (std::strtoull(rest, nullptr, 10) != start)
        return std::nullopt;  // left by an earlier process with the same id
    return static_cast<DWORD>(code);
}

void forget_exit_record(pid_t pid) {
    ::unlink(process_record_path(pid, ".exit").c_str());
}

DWORD windows_exit_code(int wait_status, std::optional<DWORD> recorded) {
    if (WIFEXITED(wait_status)) {
        const auto status = static_cast<DWORD>(WEXITSTATUS(wait_status));
        return recorded && (*recorded & 0xFF) == status ? *recorded : status;
    }
    if (WIFSIGNALED(wait_status)) {
        if (recorded)
            return *recorded;
        return code_for_signal(WTERMSIG(wait_status));
    }
    return recorded.value_or(1);
}

}  // namespace winsim
