#include "crypto/host_random.h"

#include <sys/random.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace winsim {

bool fill_host_random(void* buffer, std::size_t length) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::size_t filled = 0;
    while (filled < length) {
        const ssize_t got = ::getrandom(bytes + filled, length - filled, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        filled += static_cast<std::size_t>(got);
    }
    return true;
}

void fill_host_random_or_abort(void* buffer, std::size_t length) {
    if (fill_host_random(buffer, length))
        return;
    std::perror("winsim: no random bytes from the host");
    std::abort();
}

}  // namespace winsim
