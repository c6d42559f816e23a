#include "processes/process_identity.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <sstream>
#include <string>

namespace winsim {
namespace {

struct StatFields {
    char state = '?';
    std::uint64_t start_time = 0;
    std::optional<int> exit_code;  // field 52, the wait status, since Linux 3.5
};

std::optional<StatFields> read_stat(pid_t pid) {
    const auto read = process_stat_text(pid);
    if (!read)
        return std::nullopt;
    const std::string& text = *read;
    // The command name in parentheses may hold spaces; the fields after it are fixed.
    const auto paren = text.rfind(')');
    if (paren == std::string::npos || paren + 2 > text.size())
        return std::nullopt;
    std::istringstream fields(text.substr(paren + 2));
    StatFields stat;
    fields >> stat.state;
    std::string skipped;
    // Field 3 is the state; the start time is field 22.
    for (int field = 4; field < 22; ++field)
        fields >> skipped;
    fields >> stat.start_time;
    if (!fields)
        return std::nullopt;
    for (int field = 23; field < 52; ++field)
        fields >> skipped;
    int exit_code = 0;
    if (fields >> exit_code)
        stat.exit_code = exit_code;
    return stat;
}

}  // namespace

std::optional<std::string> process_stat_text(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string text;
    char buffer[1024];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(got));
    ::close(fd);
    if (got < 0)
        return std::nullopt;
    return text;
}

int open_pidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
        return static_cast<int>(fd);
    }
#endif
    return -1;
}

std::optional<std::uint64_t> process_start_time(pid_t pid) {
    const auto stat = read_stat(pid);
    if (!stat)
        return std::nullopt;
    return stat->start_time;
}

bool is_same_live_process(pid_t pid, std::uint64_t start_time) {
    const auto stat = read_stat(pid);
    return stat && stat->start_time == start_time && stat->state != 'Z' && stat->state != 'X';
}

std::optional<int> zombie_wait_status(pid_t pid, std::uint64_t start_time) {
    const auto stat = read_stat(pid);
    if (!stat || stat->start_time != start_time || stat->state != 'Z')
        return std::nullopt;
    return stat->exit_code;
}

}  // namespace winsim
