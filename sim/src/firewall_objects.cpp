// HNetCfg.FwPolicy2 and HNetCfg.FWRule in the simulated host: the policy hands out the rules
// collection, the collection finds and adds rules in the machine's store, and a rule object is
// either new (its properties live in the object until Add) or a rule of the store, whose
// properties are read from and written to the store at each call.

#include "firewall_objects.h"

#include <winsim/netfw.h>

#include <string>

#include "access_check.h"
#include "com_runtime.h"
#include "firewall_store.h"
#include "sddl.h"
#include "token.h"
#include "wtf8.h"

namespace winsim {
namespace {

constexpr HRESULT kRuleNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

// Changing the firewall takes what the firewall service demands: an administrator's token
// with the group enabled, that is elevated.
bool caller_may_change_firewall() {
    return token_is_member_of(process_token_object()->snapshot(), "S-1-5-32-544");
}

std::string method_name(const char* interface_name, const char* method) {
    return std::string(interface_name) + "::" + method;
}

// IDispatch is there for scripting clients; the program binds to the method tables.
template <class Self, class Interface>
class FirewallObject : public CountedObject<Self, Interface, true> {
  public:
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
};

// Hands out `found` as the answer of a method that returns an interface pointer: null with
// the quirk, which the caller must still check.
template <class Out>
HRESULT hand_out(Out* found, const MethodEntry& entry, Out** out) {
    if (entry.quirk) {
        found->Release();
        *out = nullptr;
        return S_OK;
    }
    *out = found;
    return S_OK;
}

// ---------------------------------------------------------------- rule

class RuleObject final : public FirewallObject<RuleObject, INetFwRule3> {
  public:
    // A new rule (NetFwRule), or the stored rule with that id.
    RuleObject() : properties_(new_rule_properties()) {}
    explicit RuleObject(std::int64_t id) : id_(id) {}

    bool stored() const { return id_.has_value(); }

    HRESULT query(REFIID riid, void** object) {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_INetFwRule ||
            riid == IID_INetFwRule2 || riid == IID_INetFwRule3) {
            AddRef();
            *object = static_cast<INetFwRule3*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        const auto entry = enter_method("INetFwRule::QueryInterface", true);
        if (object != nullptr)
            *object = nullptr;
        if (entry.failure)
            return *entry.failure;
        const HRESULT asked = query(riid, object);
        if (SUCCEEDED(asked) && entry.quirk) {
            Release();
            *object = nullptr;
        }
        return FAILED(asked) ? method_failed(asked) : asked;
    }

    // Add: the rule becomes the stored rule with this properties.
    HRESULT add_to_store() {
        if (stored())
            return E_UNEXPECTED;
        const auto& name = properties_["name"];
        if (!name.is_string() || name.get<std::string>().empty())
            return E_INVALIDARG;
        id_ = store_rule(properties_);
        properties_ = nullptr;
        return S_OK;
    }

    // INetFwRule
    HRESULT get_Name(BSTR* out) override { return get_text("INetFwRule", "get_Name", "name", out); }
    HRESULT put_Name(BSTR value) override {
        return put_text("INetFwRule", "put_Name", "name", value);
    }
    HRESULT get_Description(BSTR* out) override {
        return get_text("INetFwRule", "get_Description", "description", out);
    }
    HRESULT put_Description(BSTR value) override {
        return put_text("INetFwRule", "put_Description", "description", value);
    }
    HRESULT get_ApplicationName(BSTR* out) override {
        return get_text("INetFwRule", "get_ApplicationName", "application_name", out);
    }
    HRESULT put_ApplicationName(BSTR value) override {
        return put_text("INetFwRule", "put_ApplicationName", "application_name", value);
    }
    HRESULT get_ServiceName(BSTR* out) override {
        return get_text("INetFwRule", "get_ServiceName", "service_name", out);
    }
    HRESULT put_ServiceName(BSTR value) override {
        return put_text("INetFwRule", "put_ServiceName", "service_name", value);
    }
    HRESULT get_Protocol(LONG* out) override {
        return get_number("INetFwRule", "get_Protocol", "protocol", out);
    }
    HRESULT put_Protocol(LONG value) override {
        return put_number("INetFwRule", "put_Protocol", "protocol", value,
                          value >= 0 && value <= 256);
    }
    HRESULT get_LocalPorts(BSTR* out) override {
        return get_text("INetFwRule", "get_LocalPorts", "local_ports", out);
    }
    HRESULT put_LocalPorts(BSTR value) override {
        return put_text("INetFwRule", "put_LocalPorts", "local_ports", value);
    }
    HRESULT get_RemotePorts(BSTR* out) override {
        return get_text("INetFwRule", "get_RemotePorts", "remote_ports", out);
    }
    HRESULT put_RemotePorts(BSTR value) override {
        return put_text("INetFwRule", "put_RemotePorts", "remote_ports", value);
    }
    HRESULT get_LocalAddresses(BSTR* out) override {
        return get_text("INetFwRule", "get_LocalAddresses", "local_addresses", out);
    }
    HRESULT put_LocalAddresses(BSTR value) override {
        return put_text("INetFwRule", "put_LocalAddresses", "local_addresses", value);
    }
    HRESULT get_RemoteAddresses(BSTR* out) override {
        return get_text("INetFwRule", "get_RemoteAddresses", "remote_addresses", out);
    }
    HRESULT put_RemoteAddresses(BSTR value) override {
        return put_text("INetFwRule", "put_RemoteAddresses", "remote_addresses", value);
    }
    HRESULT get_IcmpTypesAndCodes(BSTR* out) override {
        return get_text("INetFwRule", "get_IcmpTypesAndCodes", "icmp_types_and_codes", out);
    }
    HRESULT put_IcmpTypesAndCodes(BSTR value) override {
        return put_text("INetFwRule", "put_IcmpTypesAndCodes", "icmp_types_and_codes", value);
    }
    HRESULT get_Direction(NET_FW_RULE_DIRECTION* out) override {
        LONG value = 0;
        const HRESULT result = get_number("INetFwRule", "get_Direction", "direction",
                                          out == nullptr ? nullptr : &value);
        if (SUCCEEDED(result))
            *out = static_cast<NET_FW_RULE_DIRECTION>(value);
        return result;
    }
    HRESULT put_Direction(NET_FW_RULE_DIRECTION value) override {
        return put_number("INetFwRule", "put_Direction", "direction", value,
                          value == NET_FW_RULE_DIR_IN || value == NET_FW_RULE_DIR_OUT);
    }
    HRESULT get_Interfaces(VARIANT*) override {
        return not_modelled("INetFwRule", "get_Interfaces");
    }
    HRESULT put_Interfaces(VARIANT) override {
        return not_modelled("INetFwRule", "put_Interfaces");
    }
    HRESULT get_InterfaceTypes(BSTR* out) override {
        return get_text("INetFwRule", "get_InterfaceTypes", "interface_types", out);
    }
    HRESULT put_InterfaceTypes(BSTR value) override {
        return put_text("INetFwRule", "put_InterfaceTypes", "interface_types", value);
    }
    HRESULT get_Enabled(VARIANT_BOOL* out) override {
        return get_flag("INetFwRule", "get_Enabled", "enabled", out);
    }
    HRESULT put_Enabled(VARIANT_BOOL value) override {
        return put_flag("INetFwRule", "put_Enabled", "enabled", value);
    }
    HRESULT get_Grouping(BSTR* out) override {
        return get_text("INetFwRule", "get_Grouping", "grouping", out);
    }
    HRESULT put_Grouping(BSTR value) override {
        return put_text("INetFwRule", "put_Grouping", "grouping", value);
    }
    HRESULT get_Profiles(LONG* out) override {
        return get_number("INetFwRule", "get_Profiles", "profiles", out);
    }
    HRESULT put_Profiles(LONG value) override {
        return put_number("INetFwRule", "put_Profiles", "profiles", value, value > 0);
    }
    HRESULT get_EdgeTraversal(VARIANT_BOOL* out) override {
        return get_flag("INetFwRule", "get_EdgeTraversal", "edge_traversal", out);
    }
    HRESULT put_EdgeTraversal(VARIANT_BOOL value) override {
        return put_flag("INetFwRule", "put_EdgeTraversal", "edge_traversal", value);
    }
    HRESULT get_Action(NET_FW_ACTION* out) override {
        LONG value = 0;
        const HRESULT result =
            get_number("INetFwRule", "get_Action", "action", out == nullptr ? nullptr : &value);
        if (SUCCEEDED(result))
            *out = static_cast<NET_FW_ACTION>(value);
        return result;
    }
    HRESULT put_Action(NET_FW_ACTION value) override {
        return put_number("INetFwRule", "put_Action", "action", value,
                          value == NET_FW_ACTION_BLOCK || value == NET_FW_ACTION_ALLOW);
    }

    // INetFwRule2
    HRESULT get_EdgeTraversalOptions(LONG* out) override {
        return get_number("INetFwRule2", "get_EdgeTraversalOptions", "edge_traversal_options", out);
    }
    HRESULT put_EdgeTraversalOptions(LONG value) override {
        return put_number("INetFwRule2", "put_EdgeTraversalOptions", "edge_traversal_options",
                          value, value >= 0);
    }

    // INetFwRule3
    HRESULT get_LocalAppPackageId(BSTR* out) override {
        return get_text("INetFwRule3", "get_LocalAppPackageId", "local_app_package_id", out);
    }
    HRESULT put_LocalAppPackageId(BSTR value) override {
        return put_text("INetFwRule3", "put_LocalAppPackageId", "local_app_package_id", value);
    }
    HRESULT get_LocalUserOwner(BSTR* out) override {
        return get_text("INetFwRule3", "get_LocalUserOwner", "local_user_owner", out);
    }
    HRESULT put_LocalUserOwner(BSTR value) override {
        return put_text("INetFwRule3", "put_LocalUserOwner", "local_user_owner", value);
    }
    HRESULT get_LocalUserAuthorizedList(BSTR* out) override {
        return get_text("INetFwRule3", "get_LocalUserAuthorizedList", "local_user_authorized_list",
                        out);
    }
    HRESULT put_LocalUserAuthorizedList(BSTR value) override {
        return put_text("INetFwRule3", "put_LocalUserAuthorizedList", "local_user_authorized_list",
                        value, is_descriptor_or_empty(value));
    }
    HRESULT get_RemoteUserAuthorizedList(BSTR* out) override {
        return get_text("INetFwRule3", "get_RemoteUserAuthorizedList",
                        "remote_user_authorized_list", out);
    }
    HRESULT put_RemoteUserAuthorizedList(BSTR value) override {
        return put_text("INetFwRule3", "put_RemoteUserAuthorizedList",
                        "remote_user_authorized_list", value, is_descriptor_or_empty(value));
    }
    HRESULT get_RemoteMachineAuthorizedList(BSTR* out) override {
        return get_text("INetFwRule3", "get_RemoteMachineAuthorizedList",
                        "remote_machine_authorized_list", out);
    }
    HRESULT put_RemoteMachineAuthorizedList(BSTR value) override {
        return put_text("INetFwRule3", "put_RemoteMachineAuthorizedList",
                        "remote_machine_authorized_list", value, is_descriptor_or_empty(value));
    }
    HRESULT get_SecureFlags(LONG* out) override {
        return get_number("INetFwRule3", "get_SecureFlags", "secure_flags", out);
    }
    HRESULT put_SecureFlags(LONG value) override {
        return put_number("INetFwRule3", "put_SecureFlags", "secure_flags", value, value >= 0);
    }

  private:
    // The user lists are security descriptors in SDDL; an empty list names nobody.
    static bool is_descriptor_or_empty(BSTR value) {
        const std::u16string text = bstr_text(value);
        return text.empty() || parse_sddl(wtf8_from_utf16(text)).has_value();
    }

    HRESULT not_modelled(const char* interface_name, const char* method) {
        if (auto entry = enter_method(method_name(interface_name, method), true); entry.failure)
            return *entry.failure;
        return E_NOTIMPL;
    }

    // The current properties: the object's own, or the store's.
    HRESULT read(const char* interface_name, const char* method, const char* field,
                 bool pointer_given, nlohmann::json& value) {
        if (auto entry = enter_method(method_name(interface_name, method), true); entry.failure)
            return *entry.failure;
        if (!pointer_given)
            return method_failed(E_POINTER);
        if (!stored()) {
            value = properties_[field];
            return S_OK;
        }
        auto rule = stored_rule(*id_);
        if (!rule)
            return method_failed(kRuleNotFound);
        value = (*rule)[field];
        return S_OK;
    }

    HRESULT write(const char* interface_name, const char* method, const char* field,
                  nlohmann::json value, bool valid) {
        if (auto entry = enter_method(method_name(interface_name, method), true); entry.failure)
            return *entry.failure;
        if (!valid)
            return method_failed(E_INVALIDARG);
        if (!stored()) {
            properties_[field] = std::move(value);
            return S_OK;
        }
        if (!caller_may_change_firewall())
            return method_failed(E_ACCESSDENIED);
        if (!change_stored_rule(*id_, [&](nlohmann::json& rule) { rule[field] = value; }))
            return method_failed(kRuleNotFound);
        return S_OK;
    }

    HRESULT get_text(const char* interface_name, const char* method, const char* field, BSTR* out) {
        nlohmann::json value;
        if (out != nullptr)
            *out = nullptr;
        const HRESULT result = read(interface_name, method, field, out != nullptr, value);
        if (FAILED(result) || value.is_null())
            return result;
        *out = make_bstr(utf16_from_wtf8(value.get<std::string>()));
        return *out == nullptr ? method_failed(E_OUTOFMEMORY) : S_OK;
    }
    HRESULT put_text(const char* interface_name, const char* method, const char* field, BSTR value,
                     bool valid = true) {
        nlohmann::json text = nullptr;
        if (value != nullptr)
            text = wtf8_from_utf16(bstr_text(value));
        return write(interface_name, method, field, std::move(text), valid);
    }
    HRESULT get_number(const char* interface_name, const char* method, const char* field,
                       LONG* out) {
        nlohmann::json value;
        const HRESULT result = read(interface_name, method, field, out != nullptr, value);
        if (SUCCEEDED(result))
            *out = value.get<LONG>();
        return result;
    }
    HRESULT put_number(const char* interface_name, const char* method, const char* field,
                       LONG value, bool valid) {
        return write(interface_name, method, field, value, valid);
    }
    HRESULT get_flag(const char* interface_name, const char* method, const char* field,
                     VARIANT_BOOL* out) {
        nlohmann::json value;
        const HRESULT result = read(interface_name, method, field, out != nullptr, value);
        if (SUCCEEDED(result))
            *out = value.get<bool>() ? VARIANT_TRUE : VARIANT_FALSE;
        return result;
    }
    HRESULT put_flag(const char* interface_name, const char* method, const char* field,
                     VARIANT_BOOL value) {
        return write(interface_name, method, field, value != VARIANT_FALSE, true);
    }

    std::optional<std::int64_t> id_;
    nlohmann::json properties_;
};

// ---------------------------------------------------------------- rules collection

class RulesObject final : public FirewallObject<RulesObject, INetFwRules> {
  public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        const auto entry = enter_method("INetFwRules::QueryInterface", true);
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (entry.failure)
            return *entry.failure;
        if (riid != IID_IUnknown && riid != IID_IDispatch && riid != IID_INetFwRules)
            return method_failed(E_NOINTERFACE);
        AddRef();
        return hand_out<INetFwRules>(this, entry, reinterpret_cast<INetFwRules**>(object));
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
    HRESULT query(REFIID riid, void** object) {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (riid != IID_IUnknown && riid != IID_IDispatch && riid != IID_INetFwPolicy2)
            return E_NOINTERFACE;
        AddRef();
        *object = static_cast<INetFwPolicy2*>(this);
        return S_OK;
    }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        const auto entry = enter_method("INetFwPolicy2::QueryInterface", true);
        if (object != nullptr)
            *object = nullptr;
        if (entry.failure)
            return *entry.failure;
        const HRESULT asked = query(riid, object);
        if (SUCCEEDED(asked) && entry.quirk) {
            Release();
            *object = nullptr;
        }
        return FAILED(asked) ? method_failed(asked) : asked;
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

    // The profile and default settings are not modelled.
    HRESULT get_CurrentProfileTypes(LONG*) override {
        return not_modelled("get_CurrentProfileTypes");
    }
    HRESULT get_FirewallEnabled(NET_FW_PROFILE_TYPE2, VARIANT_BOOL*) override {
        return not_modelled("get_FirewallEnabled");
    }
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
    HRESULT get_LocalPolicyModifyState(NET_FW_MODIFY_STATE*) override {
        return not_modelled("get_LocalPolicyModifyState");
    }

  private:
    HRESULT not_modelled(const char* method) {
        if (auto entry = enter_method(method_name("INetFwPolicy2", method), true); entry.failure)
            return *entry.failure;
        return E_NOTIMPL;
    }
};

}  // namespace

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
