#pragma once
// The Windows Firewall rule "quarvel_protected_commands_offline", which blocks all outbound
// traffic of the offline sandbox account. Setup makes or repairs it; every load proves it.
// Both calls join the calling thread to a single-threaded apartment for their duration and
// keep nothing afterwards.

#include <string_view>

#include "cli/failure.h"

namespace quarvel {

// Rewrites the rule of that name, or creates and adds it when there is none (Item answers
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)), then checks it (check_rule). Codes:
// firewall_unavailable (COM, policy or rules collection unusable), firewall_rule_failed (the
// rule cannot be looked up, created, named, configured, added or asked for INetFwRule3; also
// when Windows has no memory for a text), those of check_rule; each with the HRESULT message.
// Changing rules needs an elevated administrator. Whether Windows enforces the rule is left to
// verify_offline_rule: setup cannot change it.
Result<void> ensure_offline_rule(std::string_view offline_sid);

// Changes nothing. A rule that cannot be found, or does not block the account, gives
// setup_required "Windows protection setup must refresh its network rule." (78); a sound rule
// that Windows does not enforce, firewall_disabled (78, check_firewall_enforcement); otherwise
// the codes of ensure_offline_rule and check_rule.
Result<void> verify_offline_rule(std::string_view offline_sid);

}  // namespace quarvel
