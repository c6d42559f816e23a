#include "proc_files.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

namespace winsim {

std::optional<std::string> read_proc_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        ::close(fd);
        if (got < 0)
            return std::nullopt;
        return text;
    }
}

}  // namespace winsim
