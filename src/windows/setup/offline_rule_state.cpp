#include "windows/setup/offline_rule_state.h"

#include "platform/win32.h"
#include "windows/setup/authorized_users.h"

namespace quarvel {
namespace {

// NET_FW_IP_PROTOCOL_ANY of the Windows SDK; not every toolchain's headers name it.
constexpr int kAnyProtocol = 256;
// The three profiles a network can belong to; NET_FW_PROFILE2_ALL sets more bits than these.
constexpr int kEveryProfile =
    NET_FW_PROFILE2_DOMAIN | NET_FW_PROFILE2_PRIVATE | NET_FW_PROFILE2_PUBLIC;

bool equal_ignoring_ascii_case(std::string_view text, std::string_view word) {
    if (text.size() != word.size())
        return false;
    for (std::size_t k = 0; k < text.size(); ++k) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(text[k]) != lower(word[k]))
            return false;
    }
    return true;
}

// Null and "" name no application, service or package; a service of "*" means every service
// and no other process, so it narrows the rule.
bool names_nothing(const std::optional<std::string>& text) {
    return !text || text->empty();
}

// Ports exist only for TCP and UDP: on a rule for any protocol Windows keeps none, and what it
// hands out for them is null, "" or "*".
bool any_port(const std::optional<std::string>& ports) {
    return names_nothing(ports) || *ports == "*";
}

bool any_address(const std::optional<std::string>& addresses) {
    return addresses && *addresses == "*";
}

bool every_interface_type(const std::optional<std::string>& types) {
    return types && equal_ignoring_ascii_case(*types, "All");
}

}  // namespace

bool blocks_all_outbound_traffic(const OfflineRuleState& rule, std::string_view offline_sid) {
    const bool blocks = rule.enabled && rule.direction == NET_FW_RULE_DIR_OUT &&
                        rule.action == NET_FW_ACTION_BLOCK &&
                        authorizes_user(rule.authorized_users, offline_sid);
    const bool everywhere = (rule.profiles & kEveryProfile) == kEveryProfile &&
                            rule.protocol == kAnyProtocol && any_port(rule.local_ports) &&
                            any_port(rule.remote_ports) && any_address(rule.local_addresses) &&
                            any_address(rule.remote_addresses);
    const bool every_process = names_nothing(rule.application) && names_nothing(rule.service) &&
                               names_nothing(rule.package);
    const bool every_interface = rule.all_interfaces && every_interface_type(rule.interface_types);
    return blocks && everywhere && every_process && every_interface;
}

}  // namespace quarvel
