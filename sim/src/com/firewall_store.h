#pragma once
// The machine's firewall rules ("firewall.json" in the machine directory): a list of rules,
// each a JSON object with a machine-unique "id" and the properties of INetFwRule3 under the
// names below, in the order in which they were added.
//   {"rules": [{"id": 1, "name": "...", "description": null, "application_name": null,
//               "service_name": null, "protocol": 256, "local_ports": null,
//               "remote_ports": null, "local_addresses": "*", "remote_addresses": "*",
//               "icmp_types_and_codes": null, "direction": 1, "interface_types": "All",
//               "interfaces": null, "enabled": false, "grouping": null, "profiles": 2147483647,
//               "edge_traversal": false, "action": 1, "edge_traversal_options": 0,
//               "local_app_package_id": null, "local_user_owner": null,
//               "local_user_authorized_list": null, "remote_user_authorized_list": null,
//               "remote_machine_authorized_list": null, "secure_flags": 0}, ...],
//    "next_id": 2,
//    "policy": {"current_profiles": 4, "enabled_profiles": 7, "local_policy_modify_state": 0}}
// "interfaces" is null or a list of interface names; "policy" holds the firewall's own settings
// (testing.h, firewall_policy_json).

#include <nlohmann/json.hpp>

#include <winsim/types.h>

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string_view>

namespace winsim {

// The properties of a rule object that was just created (no "id").
nlohmann::json new_rule_properties();

// The stored rule with that id, or nothing when it no longer exists.
std::optional<nlohmann::json> stored_rule(std::int64_t id);

// The id of the first rule whose name matches (ASCII case ignored), or nothing.
std::optional<std::int64_t> find_rule(std::string_view name);

std::int64_t rule_count();

// Stores the properties as a new rule and returns its id, or the machine lock's error.
std::expected<std::int64_t, DWORD> store_rule(nlohmann::json properties);

// Applies `change` to the stored rule with that id; false when it no longer exists; the machine
// lock's error when the store could not be changed.
std::expected<bool, DWORD> change_stored_rule(std::int64_t id,
                                              const std::function<void(nlohmann::json&)>& change);

// Removes every rule of that name (ASCII case ignored).
void remove_rules(std::string_view name);

// The firewall's own settings, with the defaults for each member the machine has not set.
struct FirewallPolicy {
    LONG current_profiles;
    LONG enabled_profiles;
    LONG local_policy_modify_state;
};
FirewallPolicy firewall_policy();

}  // namespace winsim
