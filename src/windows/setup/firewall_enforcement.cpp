#include "windows/setup/firewall_enforcement.h"

#include <array>

#include "windows/setup/hresult_message.h"

namespace quarvel {
namespace {

// The profiles a network can be in; CurrentProfileTypes may name several at once, and
// FirewallEnabled takes one at a time.
constexpr std::array kProfiles = {NET_FW_PROFILE2_DOMAIN, NET_FW_PROFILE2_PRIVATE,
                                  NET_FW_PROFILE2_PUBLIC};

Failure unreadable(HRESULT result) {
    return com_failure("firewall_unavailable", result);
}

Failure not_enforcing() {
    return fixed_failure(
        "firewall_disabled",
        "Windows Firewall is not enforcing the network rule for commands without network access.",
        exit_code::setup_required);
}

// OK: local rules apply. INBOUND_BLOCKED: every inbound connection is refused whatever the
// rules say, which leaves an outbound block rule in force. GP_OVERRIDE: the profile is
// controlled by group policy and local rules do not take effect. A state added after these is
// not known to leave the rule in force.
bool local_rules_apply(NET_FW_MODIFY_STATE state) {
    return state == NET_FW_MODIFY_STATE_OK || state == NET_FW_MODIFY_STATE_INBOUND_BLOCKED;
}

}  // namespace

Result<void> check_firewall_enforcement(INetFwPolicy2* policy) {
    LONG current = 0;
    if (const HRESULT read = policy->get_CurrentProfileTypes(&current); FAILED(read))
        return std::unexpected(unreadable(read));
    for (const NET_FW_PROFILE_TYPE2 profile : kProfiles) {
        if ((current & profile) == 0)
            continue;
        VARIANT_BOOL enabled = VARIANT_FALSE;
        if (const HRESULT read = policy->get_FirewallEnabled(profile, &enabled); FAILED(read))
            return std::unexpected(unreadable(read));
        if (enabled != VARIANT_TRUE)
            return std::unexpected(not_enforcing());
    }
    NET_FW_MODIFY_STATE state = NET_FW_MODIFY_STATE_OK;
    if (const HRESULT read = policy->get_LocalPolicyModifyState(&state); FAILED(read))
        return std::unexpected(unreadable(read));
    if (!local_rules_apply(state))
        return std::unexpected(not_enforcing());
    return {};
}

}  // namespace quarvel
