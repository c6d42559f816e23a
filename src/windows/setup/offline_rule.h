#pragma once
// The Windows Firewall rule "quarvel_protected_commands_offline", which blocks all outbound
// traffic of the offline sandbox account. Setup makes or repairs it; every load proves it.
// Both calls join the calling thread to a single-threaded apartment for their duration and
// keep nothing afterwards.

#include <string_view>

#include "cli/failure.h"

namespace quarvel {

// Rewrites the rule of that name, or creates and adds it when none can be read, then checks it
// (check_rule). Codes: firewall_unavailable (COM, policy or rules collection unusable),
// firewall_rule_failed (the rule cannot be created, named, configured, added or asked for
// INetFwRule3; also when Windows has no memory for a text), those of check_rule; each with the
// HRESULT message. Changing rules needs an elevated administrator.
Result<void> ensure_offline_rule(std::string_view offline_sid);

// Changes nothing. A rule that cannot be found, or does not block the account, gives
// setup_required "Windows protection setup must refresh its network rule." (78); otherwise the
// codes of ensure_offline_rule and check_rule.
Result<void> verify_offline_rule(std::string_view offline_sid);

}  // namespace quarvel
