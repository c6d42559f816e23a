#pragma once
// Making Windows create a protected account's profile during setup, by running a trivial
// system command as that account with its profile loaded.

#include <chrono>
#include <string_view>

#include "cli/failure.h"

namespace quarvel {

// How long the profile command may take, and how long its forced end may take after that.
struct ProfileCommandLimits {
    std::chrono::milliseconds run{120'000};
    std::chrono::milliseconds after_termination{30'000};
};

// Runs "cmd.exe /d /c exit 0" from the system directory as `account` (domain ".") with
// LOGON_WITH_PROFILE, no window, the account's own environment and the system directory as its
// current directory, and waits for it. A command still running after `limits.run` is ended
// with exit code 125 (then waited for up to `limits.after_termination`). Failures:
// system_command_unavailable (see system_command_path); profile_initialization_failed,
// "Windows could not finish command protection setup.", with the Windows error when the
// command cannot be started, waited for or queried, without it when it ran too long or ended
// with a code other than 0; invalid_request from the command line. Both handles are closed on
// every path.
Result<void> initialize_profile(std::string_view account, std::string_view password,
                                const ProfileCommandLimits& limits = {});

}  // namespace quarvel
