#include "windows/setup/offline_rule.h"

#include "platform/com_resource.h"
#include "windows/setup/firewall_identifiers.h"
#include "windows/setup/firewall_rules.h"
#include "windows/setup/hresult_message.h"
#include "windows/setup/offline_rule_properties.h"

namespace quarvel {
namespace {

Failure rule_failed(HRESULT result) {
    return com_failure("firewall_rule_failed", result);
}

// Item with the rule's name. Without memory for the name nothing can be looked up, and taking
// that for a missing rule would add a second rule of the same name.
Result<HRESULT> find_offline_rule(INetFwRules* rules, ComPtr<INetFwRule>& rule) {
    const UniqueBstr name = allocate_bstr(kOfflineRuleName);
    if (!name)
        return std::unexpected(rule_failed(E_OUTOFMEMORY));
    return rules->Item(name.get(), rule.put());
}

// The rule's INetFwRule3 interface; `found` is what handed out the rule, so that a success
// without a rule still reports the call that gave it.
Result<ComPtr<INetFwRule3>> rule3_of(INetFwRule* rule, HRESULT found) {
    if (rule == nullptr)
        return std::unexpected(rule_failed(found));
    ComPtr<INetFwRule3> rule3;
    const HRESULT asked = rule->QueryInterface(kNetFwRule3Interface, rule3.put_void());
    if (FAILED(asked) || !rule3)
        return std::unexpected(rule_failed(asked));
    return rule3;
}

Result<void> rewrite_rule(INetFwRule* existing, HRESULT found, std::string_view offline_sid) {
    auto rule = rule3_of(existing, found);
    if (!rule)
        return std::unexpected(std::move(rule.error()));
    if (auto configured = configure_rule(rule->get(), offline_sid); !configured)
        return configured;
    return check_rule(rule->get(), offline_sid);
}

Result<void> add_rule(INetFwRules* rules, std::string_view offline_sid) {
    ComPtr<INetFwRule3> rule;
    const HRESULT created = CoCreateInstance(kNetFwRuleClass, nullptr, CLSCTX_INPROC_SERVER,
                                             kNetFwRule3Interface, rule.put_void());
    if (FAILED(created) || !rule)
        return std::unexpected(rule_failed(created));
    const UniqueBstr name = allocate_bstr(kOfflineRuleName);
    if (!name)
        return std::unexpected(rule_failed(E_OUTOFMEMORY));
    if (const HRESULT named = rule->put_Name(name.get()); FAILED(named))
        return std::unexpected(rule_failed(named));
    if (auto configured = configure_rule(rule.get(), offline_sid); !configured)
        return configured;
    if (const HRESULT added = rules->Add(rule.get()); FAILED(added))
        return std::unexpected(rule_failed(added));
    // Now a rule of the firewall: the properties are written once more, to the stored rule.
    if (auto configured = configure_rule(rule.get(), offline_sid); !configured)
        return configured;
    return check_rule(rule.get(), offline_sid);
}

}  // namespace

Result<void> ensure_offline_rule(std::string_view offline_sid) {
    auto firewall = open_firewall_rules();
    if (!firewall)
        return std::unexpected(std::move(firewall.error()));
    ComPtr<INetFwRule> existing;
    const auto found = find_offline_rule(firewall->rules.get(), existing);
    if (!found)
        return std::unexpected(std::move(found.error()));
    if (SUCCEEDED(*found))
        return rewrite_rule(existing.get(), *found, offline_sid);
    // The lookup's failure is expected here; its error object must not be taken for that of a
    // later call.
    SetErrorInfo(0, nullptr);
    return add_rule(firewall->rules.get(), offline_sid);
}

Result<void> verify_offline_rule(std::string_view offline_sid) {
    auto firewall = open_firewall_rules();
    if (!firewall)
        return std::unexpected(std::move(firewall.error()));
    ComPtr<INetFwRule> existing;
    const auto found = find_offline_rule(firewall->rules.get(), existing);
    if (!found)
        return std::unexpected(std::move(found.error()));
    if (FAILED(*found)) {
        SetErrorInfo(0, nullptr);
        return std::unexpected(rule_needs_refresh());
    }
    auto rule = rule3_of(existing.get(), *found);
    if (!rule)
        return std::unexpected(std::move(rule.error()));
    return check_rule(rule->get(), offline_sid);
}

}  // namespace quarvel
