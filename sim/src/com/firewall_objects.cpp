// HNetCfg.FwPolicy2 in the simulated host: the policy hands out the rules collection, and the
// collection finds and adds rules in the machine's store (the rule object is in
// firewall_rule_object.h).

#include "com/firewall_objects.h"

#include <winsim/netfw.h>

#include "com/firewall_object_base.h"
#include "com/firewall_rule_object.h"
#include "com/firewall_store.h"
#include "machine/wtf8.h"
#include "security/access_check.h"
#include "security/token.h"

namespace winsim {
namespace {

// ---------------------------------------------------------------- rules collection

class RulesObject final : public FirewallObject<RulesObject, INetFwRules> {
  public:
    static constexpr std::array kOffered{IID_INetFwRules};

    HRESULT QueryInterface(REFIID riid, void** object) override {
        return counted_query("INetFwRules", riid, object);
    }

    HRESULT get_Count(LONG* count) override {
        if (auto entry = enter_method("INetFwRules::get_Count", true); entry.failure)
            return *entry.failure;
        if (count == nullptr)
            return method_failed(E_POINTER);
        *count = static_cast<LONG>(rule_count());
        return S_OK;
    }

    HRESULT Add(INetFwRule* rule) override {
        if (auto entry = enter_method("INetFwRules::Add", true); entry.failure)
            return *entry.failure;
        auto* own = dynamic_cast<RuleObject*>(rule);
        if (own == nullptr)
            return method_failed(E_INVALIDARG);
        if (!caller_may_change_firewall())
            return method_failed(E_ACCESSDENIED);
        const HRESULT added = own->add_to_store();
        return FAILED(added) ? method_failed(added) : added;
    }

    HRESULT Remove(BSTR name) override {
        if (auto entry = enter_method("INetFwRules::Remove", true); entry.failure)
            return *entry.failure;
        if (!caller_may_change_firewall())
            return method_failed(E_ACCESSDENIED);
        remove_rules(wtf8_from_utf16(bstr_text(name)));
        return S_OK;
    }

    HRESULT Item(BSTR name, INetFwRule** rule) override {
        const auto entry = enter_method("INetFwRules::Item", true);
        if (rule == nullptr)
            return entry.failure ? *entry.failure : method_failed(E_POINTER);
        *rule = nullptr;
        if (entry.failure)
            return *entry.failure;
        const auto id = find_rule(wtf8_from_utf16(bstr_text(name)));
        if (!id)
            return method_failed(kRuleNotFound);
        return hand_out<INetFwRule>(new RuleObject(*id), entry, rule);
    }

    HRESULT get__NewEnum(IUnknown** new_enum) override {
        if (new_enum != nullptr)
            *new_enum = nullptr;
        if (auto entry = enter_method("INetFwRules::get__NewEnum", true); entry.failure)
            return *entry.failure;
        return E_NOTIMPL;
    }
};

// ---------------------------------------------------------------- policy

class PolicyObject final : public FirewallObject<PolicyObject, INetFwPolicy2> {
  public:
    static constexpr std::array kOffered{IID_INetFwPolicy2};

    HRESULT QueryInterface(REFIID riid, void** object) override {
        return counted_query("INetFwPolicy2", riid, object);
    }

    HRESULT get_Rules(INetFwRules** rules) override {
        const auto entry = enter_method("INetFwPolicy2::get_Rules", true);
        if (rules == nullptr)
            return entry.failure ? *entry.failure : method_failed(E_POINTER);
        *rules = nullptr;
        if (entry.failure)
            return *entry.failure;
        return hand_out<INetFwRules>(new RulesObject, entry, rules);
    }

    HRESULT get_CurrentProfileTypes(LONG* profiles) override {
        if (auto entry = enter_method("INetFwPolicy2::get_CurrentProfileTypes", true);
            entry.failure)
            return *entry.failure;
        if (profiles == nullptr)
            return method_failed(E_POINTER);
        *profiles = firewall_policy().current_profiles;
        return S_OK;
    }

    // One profile at a time, as the documentation asks of callers.
    HRESULT get_FirewallEnabled(NET_FW_PROFILE_TYPE2 profile, VARIANT_BOOL* enabled) override {
        if (auto entry = enter_method("INetFwPolicy2::get_FirewallEnabled", true); entry.failure)
            return *entry.failure;
        if (enabled == nullptr)
            return method_failed(E_POINTER);
        if (profile != NET_FW_PROFILE2_DOMAIN && profile != NET_FW_PROFILE2_PRIVATE &&
            profile != NET_FW_PROFILE2_PUBLIC)
            return method_failed(E_INVALIDARG);
        const bool on = (firewall_policy().enabled_profiles & profile) != 0;
        *enabled = on ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

    HRESULT get_LocalPolicyModifyState(NET_FW_MODIFY_STATE* state) override {
        if (auto entry = enter_method("INetFwPolicy2::get_LocalPolicyModifyState", true);
            entry.failure)
            return *entry.failure;
        if (state == nullptr)
            return method_failed(E_POINTER);
        *state = static_cast<NET_FW_MODIFY_STATE>(firewall_policy().local_policy_modify_state);
        return S_OK;
    }

    // The other settings are not modelled.
    HRESULT put_FirewallEnabled(NET_FW_PROFILE_TYPE2, VARIANT_BOOL) override {
        return not_modelled("put_FirewallEnabled");
    }
    HRESULT get_ExcludedInterfaces(NET_FW_PROFILE_TYPE2, VARIANT*) override {
        return not_modelled("get_ExcludedInterfaces");
    }
    HRESULT put_ExcludedInterfaces(NET_FW_PROFILE_TYPE2, VARIANT) override {
        return not_modelled("put_ExcludedInterfaces");
    }
    HRESULT get_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2, VARIANT_BOOL*) override {
        return not_modelled("get_BlockAllInboundTraffic");
    }
    HRESULT put_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2, VARIANT_BOOL) override {
        return not_modelled("put_BlockAllInboundTraffic");
    }
    HRESULT get_NotificationsDisabled(NET_FW_PROFILE_TYPE2, VARIANT_BOOL*) override {
        return not_modelled("get_NotificationsDisabled");
    }
    HRESULT put_NotificationsDisabled(NET_FW_PROFILE_TYPE2, VARIANT_BOOL) override {
        return not_modelled("put_NotificationsDisabled");
    }
    HRESULT get_UnicastResponsesToMulticastBroadcastDisabled(NET_FW_PROFILE_TYPE2,
                                                             VARIANT_BOOL*) override {
        return not_modelled("get_UnicastResponsesToMulticastBroadcastDisabled");
    }
    HRESULT put_UnicastResponsesToMulticastBroadcastDisabled(NET_FW_PROFILE_TYPE2,
                                                             VARIANT_BOOL) override {
        return not_modelled("put_UnicastResponsesToMulticastBroadcastDisabled");
    }
    HRESULT get_ServiceRestriction(INetFwServiceRestriction** restriction) override {
        if (restriction != nullptr)
            *restriction = nullptr;
        return not_modelled("get_ServiceRestriction");
    }
    HRESULT EnableRuleGroup(LONG, BSTR, VARIANT_BOOL) override {
        return not_modelled("EnableRuleGroup");
    }
    HRESULT IsRuleGroupEnabled(LONG, BSTR, VARIANT_BOOL*) override {
        return not_modelled("IsRuleGroupEnabled");
    }
    HRESULT RestoreLocalFirewallDefaults() override {
        return not_modelled("RestoreLocalFirewallDefaults");
    }
    HRESULT get_DefaultInboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION*) override {
        return not_modelled("get_DefaultInboundAction");
    }
    HRESULT put_DefaultInboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION) override {
        return not_modelled("put_DefaultInboundAction");
    }
    HRESULT get_DefaultOutboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION*) override {
        return not_modelled("get_DefaultOutboundAction");
    }
    HRESULT put_DefaultOutboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION) override {
        return not_modelled("put_DefaultOutboundAction");
    }
    HRESULT get_IsRuleGroupCurrentlyEnabled(BSTR, VARIANT_BOOL*) override {
        return not_modelled("get_IsRuleGroupCurrentlyEnabled");
    }

  private:
    HRESULT not_modelled(const char* method) {
        if (auto entry = enter_method(method_name("INetFwPolicy2", method), true); entry.failure)
            return *entry.failure;
        return E_NOTIMPL;
    }
};

}  // namespace

bool caller_may_change_firewall() {
    return token_is_member_of(process_token_object()->snapshot(), "S-1-5-32-544");
}

HRESULT create_firewall_object(REFCLSID rclsid, REFIID riid, void** object) {
    if (rclsid == CLSID_NetFwPolicy2) {
        auto* policy = new PolicyObject;
        const HRESULT asked = policy->query(riid, object);
        policy->Release();
        return asked;
    }
    if (rclsid == CLSID_NetFwRule) {
        auto* rule = new RuleObject;
        const HRESULT asked = rule->query(riid, object);
        rule->Release();
        return asked;
    }
    return REGDB_E_CLASSNOTREG;
}

}  // namespace winsim
