#pragma once
// HNetCfg.FWRule: a new rule keeps its properties until INetFwRules::Add stores it; a rule of
// the collection reads and writes the stored rule at each call.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "com/firewall_object_base.h"
#include "com/firewall_rule_values.h"
#include "com/firewall_store.h"

namespace winsim {

class RuleObject final : public FirewallObject<RuleObject, INetFwRule3> {
  public:
    // A new rule (NetFwRule), or the stored rule with that id.
    RuleObject() : properties_(new_rule_properties()) {}
    explicit RuleObject(std::int64_t id) : id_(id) {}

    bool stored() const { return id_.has_value(); }

    static constexpr std::array kOffered{IID_INetFwRule, IID_INetFwRule2, IID_INetFwRule3};
    HRESULT QueryInterface(REFIID riid, void** object) override;

    // INetFwRules::Add: stores the new rule's properties, and from then on the object is that
    // stored rule. E_UNEXPECTED for a rule already stored, E_INVALIDARG for one without name.
    HRESULT add_to_store();

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
        return put_optional_text("INetFwRule", "put_ApplicationName", "application_name", value);
    }
    HRESULT get_ServiceName(BSTR* out) override {
        return get_text("INetFwRule", "get_ServiceName", "service_name", out);
    }
    HRESULT put_ServiceName(BSTR value) override {
        return put_optional_text("INetFwRule", "put_ServiceName", "service_name", value);
    }
    HRESULT get_Protocol(LONG* out) override {
        return get_number("INetFwRule", "get_Protocol", "protocol", out);
    }
    HRESULT put_Protocol(LONG value) override;
    HRESULT get_LocalPorts(BSTR* out) override {
        return get_text("INetFwRule", "get_LocalPorts", "local_ports", out);
    }
    HRESULT put_LocalPorts(BSTR value) override {
        return put_ports("put_LocalPorts", "local_ports", value);
    }
    HRESULT get_RemotePorts(BSTR* out) override {
        return get_text("INetFwRule", "get_RemotePorts", "remote_ports", out);
    }
    HRESULT put_RemotePorts(BSTR value) override {
        return put_ports("put_RemotePorts", "remote_ports", value);
    }
    HRESULT get_LocalAddresses(BSTR* out) override {
        return get_text("INetFwRule", "get_LocalAddresses", "local_addresses", out);
    }
    HRESULT put_LocalAddresses(BSTR value) override {
        return put_addresses("put_LocalAddresses", "local_addresses", value);
    }
    HRESULT get_RemoteAddresses(BSTR* out) override {
        return get_text("INetFwRule", "get_RemoteAddresses", "remote_addresses", out);
    }
    HRESULT put_RemoteAddresses(BSTR value) override {
        return put_addresses("put_RemoteAddresses", "remote_addresses", value);
    }
    HRESULT get_IcmpTypesAndCodes(BSTR* out) override {
        return get_text("INetFwRule", "get_IcmpTypesAndCodes", "icmp_types_and_codes", out);
    }
    HRESULT put_IcmpTypesAndCodes(BSTR value) override;
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
    HRESULT get_Interfaces(VARIANT* out) override;
    HRESULT put_Interfaces(VARIANT value) override;
    HRESULT get_InterfaceTypes(BSTR* out) override {
        return get_text("INetFwRule", "get_InterfaceTypes", "interface_types", out);
    }
    HRESULT put_InterfaceTypes(BSTR value) override {
        return put_text("INetFwRule", "put_InterfaceTypes", "interface_types", value,
                        value != nullptr && is_interface_type_list(bstr_text(value)));
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
        return put_optional_text("INetFwRule3", "put_LocalAppPackageId", "local_app_package_id",
                                 value);
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
    static bool is_descriptor_or_empty(BSTR value);
    // A port or ICMP list that restricts nothing.
    static bool is_any_text(const nlohmann::json& value);
    // The names of a VARIANT given to put_Interfaces: none for VT_EMPTY, the texts of a
    // one-dimensional array of VT_BSTR variants; nothing for any other value.
    static std::optional<std::vector<std::string>> interface_names(const VARIANT& value);

    // Sets properties through `change`, which sees the rule's properties as they are and
    // answers S_OK or the failure to return (nothing changed then); a stored rule only for a
    // caller who may change the firewall.
    HRESULT modify(const char* interface_name, const char* method,
                   const std::function<HRESULT(nlohmann::json&)>& change);

    // A property, from the object's own properties or the store's, after the method's entry.
    HRESULT read(const char* interface_name, const char* method, const char* field,
                 bool pointer_given, nlohmann::json& value);
    // Sets a valid property; a stored rule only for a caller who may change the firewall.
    HRESULT write(const char* interface_name, const char* method, const char* field,
                  nlohmann::json value, bool valid);

    HRESULT get_text(const char* interface_name, const char* method, const char* field, BSTR* out);
    HRESULT put_text(const char* interface_name, const char* method, const char* field, BSTR value,
                     bool valid = true);
    // A text whose absence is null: null clears it, "" is refused.
    HRESULT put_optional_text(const char* interface_name, const char* method, const char* field,
                              BSTR value);
    HRESULT put_ports(const char* method, const char* field, BSTR value);
    HRESULT put_addresses(const char* method, const char* field, BSTR value);
    HRESULT get_number(const char* interface_name, const char* method, const char* field,
                       LONG* out);
    HRESULT put_number(const char* interface_name, const char* method, const char* field,
                       LONG value, bool valid);
    HRESULT get_flag(const char* interface_name, const char* method, const char* field,
                     VARIANT_BOOL* out);
    HRESULT put_flag(const char* interface_name, const char* method, const char* field,
                     VARIANT_BOOL value);

    std::optional<std::int64_t> id_;
    nlohmann::json properties_;
};

}  // namespace winsim
