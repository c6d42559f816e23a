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

// The firewall's rules and what Item answered for the rule's name. Members are released in
// reverse order: the rule goes back before the collection and the apartment.
struct OfflineRuleLookup {
    FirewallRules firewall;
    ComPtr<INetFwRule> rule;
    HRESULT found = S_OK;
};

// The opening both operations share: the rules collection, then Item with the rule's name. A
// failed Item is an answer, not a failure: setup adds the rule then, a load asks for a refresh.
// Its error object is cleared, so that it is not taken for that of a later call. Without memory
// for the name nothing can be looked up, and taking that for a missing rule would add a second
// rule of the same name.
Result<OfflineRuleLookup> look_up_offline_rule() {
    auto firewall = open_firewall_rules();
    if (!firewall)
        return std::unexpected(std::move(firewall.error()));
    OfflineRuleLookup lookup{std::move(*firewall), {}, S_OK};
    const UniqueBstr name = allocate_bstr(kOfflineRuleName);
    if (!name)
        return std::unexpected(rule_failed(E_OUTOFMEMORY));
    lookup.found = lookup.firewall.rules->Item(name.get(), lookup.rule.put());
    if (FAILED(lookup.found))
        SetErrorInfo(0, nullptr);
    return lookup;
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
    auto lookup = look_up_offline_rule();
    if (!lookup)
        return std::unexpected(std::move(lookup.error()));
    if (FAILED(lookup->found))
        return add_rule(lookup->firewall.rules.get(), offline_sid);
    return rewrite_rule(lookup->rule.get(), lookup->found, offline_sid);
}

Result<void> verify_offline_rule(std::string_view offline_sid) {
    auto lookup = look_up_offline_rule();
    if (!lookup)
        return std::unexpected(std::move(lookup.error()));
    if (FAILED(lookup->found))
        return std::unexpected(rule_needs_refresh());
    auto rule = rule3_of(lookup->rule.get(), lookup->found);
    if (!rule)
        return std::unexpected(std::move(rule.error()));
    return check_rule(rule->get(), offline_sid);
}

}  // namespace quarvel
