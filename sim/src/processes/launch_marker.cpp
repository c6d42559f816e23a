#include "processes/launch_marker.h"

#include <unistd.h>
#include <cstdlib>

namespace winsim {

bool started_by_simulated_host() {
    const char* pid = std::getenv(kLaunchedPidVariable);
    return pid != nullptr && std::strtol(pid, nullptr, 10) == static_cast<long>(::getpid());
}

}  // namespace winsim
