#include "com/firewall_store.h"

#include <winsim/testing.h>

#include <stdexcept>
#include <string>

#include "machine/ascii_text.h"
#include "machine/machine.h"

namespace winsim {
namespace {

constexpr const char* kFirewallState = "firewall.json";

// A machine on one network of the public profile, the firewall on for every profile, nothing
// kept from applying by group policy.
const nlohmann::json kDefaultPolicy = {
    {"current_profiles", 4}, {"enabled_profiles", 7}, {"local_policy_modify_state", 0}};

nlohmann::json policy_of(const nlohmann::json& state) {
    nlohmann::json policy = kDefaultPolicy;
    if (state.contains("policy") && state["policy"].is_object())
        policy.update(state["policy"]);
    return policy;
}

nlohmann::json& rules_of(nlohmann::json& state) {
    if (!state.contains("rules") || !state["rules"].is_array())
        state["rules"] = nlohmann::json::array();
    return state["rules"];
}

bool has_name(const nlohmann::json& rule, std::string_view name) {
    return rule.contains("name") && rule["name"].is_string() &&
           equal_ignoring_ascii_case(rule["name"].get<std::string>(), name);
}

}  // namespace

nlohmann::json new_rule_properties() {
    return {{"name", nullptr},
            {"description", nullptr},
            {"application_name", nullptr},
            {"service_name", nullptr},
            {"protocol", 256},
            {"local_ports", nullptr},
            {"remote_ports", nullptr},
            {"local_addresses", "*"},
            {"remote_addresses", "*"},
            {"icmp_types_and_codes", nullptr},
            {"direction", 1},
            {"interface_types", "All"},
            {"interfaces", nullptr},
            {"enabled", false},
            {"grouping", nullptr},
            {"profiles", 0x7FFFFFFF},
            {"edge_traversal", false},
            {"action", 1},
            {"edge_traversal_options", 0},
            {"local_app_package_id", nullptr},
            {"local_user_owner", nullptr},
            {"local_user_authorized_list", nullptr},
            {"remote_user_authorized_list", nullptr},
            {"remote_machine_authorized_list", nullptr},
            {"secure_flags", 0}};
}

std::optional<nlohmann::json> stored_rule(std::int64_t id) {
    nlohmann::json state = read_machine_state(kFirewallState);
    for (const auto& rule : rules_of(state))
        if (rule.value("id", std::int64_t{-1}) == id)
            return rule;
    return std::nullopt;
}

std::optional<std::int64_t> find_rule(std::string_view name) {
    nlohmann::json state = read_machine_state(kFirewallState);
    for (const auto& rule : rules_of(state))
        if (has_name(rule, name))
            return rule.value("id", std::int64_t{-1});
    return std::nullopt;
}

std::int64_t rule_count() {
    nlohmann::json state = read_machine_state(kFirewallState);
    return static_cast<std::int64_t>(rules_of(state).size());
}

std::expected<std::int64_t, DWORD> store_rule(nlohmann::json properties) {
    std::int64_t id = 0;
    const DWORD locked = update_machine_state(kFirewallState, [&](nlohmann::json& state) {
        id = state.value("next_id", std::int64_t{1});
        state["next_id"] = id + 1;
        properties["id"] = id;
        rules_of(state).push_back(std::move(properties));
        return true;
    });
    if (locked != ERROR_SUCCESS)
        return std::unexpected(locked);
    return id;
}

std::expected<bool, DWORD> change_stored_rule(std::int64_t id,
                                              const std::function<void(nlohmann::json&)>& change) {
    bool found = false;
    const DWORD locked = update_machine_state(kFirewallState, [&](nlohmann::json& state) {
        for (auto& rule : rules_of(state)) {
            if (rule.value("id", std::int64_t{-1}) == id) {
                change(rule);
                found = true;
            }
        }
        return found;
    });
    if (locked != ERROR_SUCCESS)
        return std::unexpected(locked);
    return found;
}

void remove_rules(std::string_view name) {
    (void)update_machine_state(kFirewallState, [&](nlohmann::json& state) {
        auto& rules = rules_of(state);
        const auto before = rules.size();
        for (auto it = rules.begin(); it != rules.end();)
            it = has_name(*it, name) ? rules.erase(it) : it + 1;
        return rules.size() != before;
    });
}

FirewallPolicy firewall_policy() {
    const nlohmann::json policy = policy_of(read_machine_state(kFirewallState));
    return {policy["current_profiles"].get<LONG>(), policy["enabled_profiles"].get<LONG>(),
            policy["local_policy_modify_state"].get<LONG>()};
}

// ---------------------------------------------------------------- test API

std::string firewall_rules_json() {
    nlohmann::json state = read_machine_state(kFirewallState);
    return rules_of(state).dump();
}

void change_firewall_rule(std::string_view name, std::string_view changes_json) {
    const auto changes = nlohmann::json::parse(changes_json);
    const auto id = find_rule(name);
    if (!id)
        throw std::invalid_argument("no firewall rule named " + std::string(name));
    (void)change_stored_rule(*id, [&](nlohmann::json& rule) { rule.update(changes); });
}

void add_firewall_rule(std::string_view properties_json) {
    nlohmann::json properties = new_rule_properties();
    properties.update(nlohmann::json::parse(properties_json));
    (void)store_rule(std::move(properties));
}

void remove_firewall_rules(std::string_view name) {
    remove_rules(name);
}

std::string firewall_policy_json() {
    return policy_of(read_machine_state(kFirewallState)).dump();
}

void change_firewall_policy(std::string_view changes_json) {
    const auto changes = nlohmann::json::parse(changes_json);
    (void)update_machine_state(kFirewallState, [&](nlohmann::json& state) {
        nlohmann::json policy = policy_of(state);
        policy.update(changes);
        state["policy"] = policy;
        return true;
    });
}

}  // namespace winsim
