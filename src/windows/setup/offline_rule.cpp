#include "windows/setup/offline_rule.h"

#include "platform/com_resource.h"
#include "windows/setup/firewall_enforcement.h"
#include "windows/setup/firewall_identifiers.h"
#include "windows/setup/firewall_rules.h"
#include "windows/setup/hresult_message.h"
#include "windows/setup/offline_rule_properties.h"

namespace quarvel {
namespace {

// What INetFwRules::Item answers for a name no rule has: HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND).
constexpr HRESULT kRuleNotFound = static_cast<HRESULT>(0x80070002u);

Failure rule_failed(HRESULT result) {
    return com_failure("firewall_rule_failed", result);
}

// A failed lookup that is taken as an answer leaves no error object behind, so that it is not
// taken for that of a later call.
void forget_error_object() {
    SetErrorInfo(0, nullptr);
}

// The firewall's rules and what Item answered for the rule's name. Members are released in
// reverse order: the rule goes back before the collection and the apartment.
struct OfflineRuleLookup {
    FirewallRules firewall;
    ComPtr<INetFwRule> rule;
    HRESULT found = S_OK;
};

// The opening both operations share: the rules collection, then Item with the rule's name. A
// failed Item is left to the caller to judge, its error object with it. Without memory for the
// name nothing can be looked up, and taking that for a missing rule would add a second rule of
// the same name.
Result<OfflineRuleLookup> look_up_offline_rule() {
    auto firewall = open_firewall_rules();
    if (!firewall)
        return std::unexpected(std::move(firewall.error()));
    OfflineRuleLookup lookup{std::move(*firewall), {}, S_OK};
    const UniqueBstr name = allocate_bstr(kOfflineRuleName);
    if (!name)
        return std::unexpected(rule_failed(E_OUTOFMEMORY));
    lookup.found = lookup.firewall.rules->Item(name.get(), lookup.rule.put());
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

// Only a rule that does not exist is added: a lookup that failed for another reason (access,
// memory, a firewall that cannot answer) says nothing about whether the rule is there, and
// adding one then could leave two rules of the same name.
Result<void> ensure_offline_rule(std::string_view offline_sid) {
    auto lookup = look_up_offline_rule();
    if (!lookup)
        return std::unexpected(std::move(lookup.error()));
    if (lookup->found == kRuleNotFound) {
        forget_error_object();
        return add_rule(lookup->firewall.rules.get(), offline_sid);
    }
    if (FAILED(lookup->found))
        return std::unexpected(rule_failed(lookup->found));
    return rewrite_rule(lookup->rule.get(), lookup->found, offline_sid);
}

// The rule first, which setup can repair, then whether Windows applies it, which setup cannot
// change: a rule that needs refreshing is reported as such even on a machine whose firewall is
// off, and setup leaves a sound rule in place before the last load reports the firewall.
Result<void> verify_offline_rule(std::string_view offline_sid) {
    auto lookup = look_up_offline_rule();
    if (!lookup)
        return std::unexpected(std::move(lookup.error()));
    if (FAILED(lookup->found)) {
        forget_error_object();
        return std::unexpected(rule_needs_refresh());
    }
    auto rule = rule3_of(lookup->rule.get(), lookup->found);
    if (!rule)
        return std::unexpected(std::move(rule.error()));
    if (auto checked = check_rule(rule->get(), offline_sid); !checked)
        return checked;
    return check_firewall_enforcement(lookup->firewall.policy.get());
}

}  // namespace quarvel
