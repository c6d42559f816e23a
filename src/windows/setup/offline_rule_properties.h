#pragma once
// What makes the offline rule block: the properties setup writes and the test every load makes.

#include <string_view>

#include "cli/failure.h"
#include "platform/win32.h"

namespace quarvel {

inline constexpr std::string_view kOfflineRuleName = "quarvel_protected_commands_offline";

// Sets Description, Direction (out), Action (block), Enabled, Profiles (all), Protocol (any)
// and LocalUserAuthorizedList, in that order. The first call that fails ends it with
// firewall_rule_failed and the HRESULT message; the rest stay as they were.
Result<void> configure_rule(INetFwRule3* rule, std::string_view offline_sid);

// Reads LocalUserAuthorizedList, Enabled, Direction and Action, in that order (a failing read:
// firewall_rule_verify_failed with the HRESULT message). The rule passes when the list holds
// the SID text exactly (case-sensitive; "" is always held) and the rule is enabled, outbound
// and blocking; otherwise setup_required, "Windows protection setup must refresh its network
// rule.", exit code 78.
Result<void> check_rule(INetFwRule3* rule, std::string_view offline_sid);

// setup_required, "Windows protection setup must refresh its network rule.", exit code 78.
Failure rule_needs_refresh();

}  // namespace quarvel
