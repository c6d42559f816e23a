#pragma once
// The environment block a new process starts with.

#include <winsim/types.h>

#include <string>
#include <utility>
#include <vector>

namespace winsim {

// "NAME=value" entries: the caller's environment block (UTF-16 with CREATE_UNICODE_ENVIRONMENT,
// else 8-bit) or, without one, this process's environment; then the simulated host's own
// variables: the machine, the call log, `overrides` (which replace entries of the same name).
// Faults armed for this process (WINSIM_FAULTS) are not passed on from this process's
// environment; a caller's block that names some arms them in the child; faults armed for
// another role are passed on to every child, through a caller's block too.
std::vector<std::string> child_environment(
    const void* block, bool unicode,
    const std::vector<std::pair<std::string, std::string>>& overrides);

}  // namespace winsim
