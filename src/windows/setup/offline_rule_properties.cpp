#include "windows/setup/offline_rule_properties.h"

#include <optional>
#include <string>

#include "platform/com_resource.h"
#include "windows/setup/hresult_message.h"
#include "windows/setup/offline_rule_state.h"

namespace quarvel {
namespace {

constexpr std::string_view kOfflineRuleDescription =
    "Quarvel protected commands without network access";

// NET_FW_IP_PROTOCOL_ANY, TCP, UDP, ICMPv4 and ICMPv6 of the Windows SDK; not every toolchain's
// headers name them all.
constexpr LONG kAnyProtocol = 256;
constexpr LONG kTcp = 6;
constexpr LONG kUdp = 17;
constexpr LONG kIcmp = 1;
constexpr LONG kIcmpV6 = 58;

// The rule's LocalUserAuthorizedList: the account alone, as a security descriptor.
std::string offline_rule_users(std::string_view offline_sid) {
    return "O:LSD:(A;;CC;;;" + std::string(offline_sid) + ")";
}

Result<void> written(HRESULT result) {
    if (FAILED(result))
        return std::unexpected(com_failure("firewall_rule_failed", result));
    return {};
}

Result<void> read(HRESULT result) {
    if (FAILED(result))
        return std::unexpected(com_failure("firewall_rule_verify_failed", result));
    return {};
}

// Without memory for the text the property cannot be set; COM's own answer for that.
template <class Put>
Result<void> write_text(INetFwRule3* rule, Put put, std::string_view text) {
    const UniqueBstr value = allocate_bstr(text);
    if (!value)
        return std::unexpected(com_failure("firewall_rule_failed", E_OUTOFMEMORY));
    return written((rule->*put)(value.get()));
}

// Null is how a text property is taken away: Windows refuses "" for these.
template <class Put>
Result<void> clear_text(INetFwRule3* rule, Put put) {
    return written((rule->*put)(nullptr));
}

// Windows checks a rule at every change, and ports belong to TCP and UDP rules, ICMP types to
// ICMP rules: a rule that still names them cannot become a rule for any protocol. So before the
// protocol changes, what the present protocol narrows is widened to all ("*"), which the
// protocol change then drops. A rule for another protocol has neither and is left alone.
Result<void> widen_protocol_conditions(INetFwRule3* rule) {
    LONG protocol = kAnyProtocol;
    Result<void> step = written(rule->get_Protocol(&protocol));
    if (step && (protocol == kTcp || protocol == kUdp)) {
        step = write_text(rule, &INetFwRule3::put_LocalPorts, "*");
        if (step)
            step = write_text(rule, &INetFwRule3::put_RemotePorts, "*");
    }
    if (step && (protocol == kIcmp || protocol == kIcmpV6))
        step = write_text(rule, &INetFwRule3::put_IcmpTypesAndCodes, "*");
    return step;
}

// Every other condition that could narrow the rule, set back to what matches all traffic.
Result<void> widen_scope(INetFwRule3* rule) {
    Result<void> step = write_text(rule, &INetFwRule3::put_LocalAddresses, "*");
    if (step)
        step = write_text(rule, &INetFwRule3::put_RemoteAddresses, "*");
    if (step)
        step = clear_text(rule, &INetFwRule3::put_ApplicationName);
    if (step)
        step = clear_text(rule, &INetFwRule3::put_ServiceName);
    if (step)
        step = write_text(rule, &INetFwRule3::put_InterfaceTypes, "All");
    if (step) {
        VARIANT no_interfaces;
        VariantInit(&no_interfaces);
        step = written(rule->put_Interfaces(no_interfaces));
    }
    if (step)
        step = clear_text(rule, &INetFwRule3::put_LocalAppPackageId);
    return step;
}

template <class Get>
Result<void> read_text(INetFwRule3* rule, Get get, std::optional<std::string>& text) {
    UniqueBstr value;
    if (auto step = read((rule->*get)(value.put())); !step)
        return step;
    text = value ? std::optional(bstr_to_utf8(value.get())) : std::nullopt;
    return {};
}

template <class Get>
Result<void> read_number(INetFwRule3* rule, Get get, int& number) {
    LONG value = 0;
    if (auto step = read((rule->*get)(&value)); !step)
        return step;
    number = value;
    return {};
}

// No interface list, or a list without names, restricts nothing.
bool names_no_interface(const VARIANT& interfaces) {
    if (interfaces.vt == VT_EMPTY || interfaces.vt == VT_NULL)
        return true;
    if ((interfaces.vt & VT_ARRAY) == 0 || interfaces.parray == nullptr)
        return false;
    const SAFEARRAY& array = *interfaces.parray;
    for (USHORT k = 0; k < array.cDims; ++k)
        if (array.rgsabound[k].cElements == 0)
            return true;
    return false;
}

// What makes the rule block (users, enabled, direction, action) first, in that order, then
// what makes it cover all traffic.
Result<OfflineRuleState> read_rule(INetFwRule3* rule) {
    OfflineRuleState state;
    UniqueBstr users;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_IN;
    NET_FW_ACTION action = NET_FW_ACTION_ALLOW;
    OwnedVariant interfaces;
    Result<void> step = read(rule->get_LocalUserAuthorizedList(users.put()));
    if (step)
        step = read(rule->get_Enabled(&enabled));
    if (step)
        step = read(rule->get_Direction(&direction));
    if (step)
        step = read(rule->get_Action(&action));
    if (step)
        step = read_number(rule, &INetFwRule3::get_Profiles, state.profiles);
    if (step)
        step = read_number(rule, &INetFwRule3::get_Protocol, state.protocol);
    if (step)
        step = read_text(rule, &INetFwRule3::get_LocalPorts, state.local_ports);
    if (step)
        step = read_text(rule, &INetFwRule3::get_RemotePorts, state.remote_ports);
    if (step)
        step = read_text(rule, &INetFwRule3::get_LocalAddresses, state.local_addresses);
    if (step)
        step = read_text(rule, &INetFwRule3::get_RemoteAddresses, state.remote_addresses);
    if (step)
        step = read_text(rule, &INetFwRule3::get_ApplicationName, state.application);
    if (step)
        step = read_text(rule, &INetFwRule3::get_ServiceName, state.service);
    if (step)
        step = read_text(rule, &INetFwRule3::get_InterfaceTypes, state.interface_types);
    if (step)
        step = read(rule->get_Interfaces(interfaces.put()));
    if (step)
        step = read_text(rule, &INetFwRule3::get_LocalAppPackageId, state.package);
    if (!step)
        return std::unexpected(std::move(step.error()));

    state.authorized_users = bstr_to_utf8(users.get());
    state.enabled = enabled == VARIANT_TRUE;
    state.direction = direction;
    state.action = action;
    state.all_interfaces = names_no_interface(interfaces.get());
    return state;
}

}  // namespace

Result<void> configure_rule(INetFwRule3* rule, std::string_view offline_sid) {
    Result<void> step = write_text(rule, &INetFwRule3::put_Description, kOfflineRuleDescription);
    if (step)
        step = written(rule->put_Direction(NET_FW_RULE_DIR_OUT));
    if (step)
        step = written(rule->put_Action(NET_FW_ACTION_BLOCK));
    if (step)
        step = written(rule->put_Enabled(VARIANT_TRUE));
    if (step)
        step = written(rule->put_Profiles(NET_FW_PROFILE2_ALL));
    if (step)
        step = widen_protocol_conditions(rule);
    if (step)
        step = written(rule->put_Protocol(kAnyProtocol));
    if (step)
        step = write_text(rule, &INetFwRule3::put_LocalUserAuthorizedList,
                          offline_rule_users(offline_sid));
    if (step)
        step = widen_scope(rule);
    return step;
}

Result<void> check_rule(INetFwRule3* rule, std::string_view offline_sid) {
    const auto state = read_rule(rule);
    if (!state)
        return std::unexpected(state.error());
    if (!blocks_all_outbound_traffic(*state, offline_sid))
        return std::unexpected(rule_needs_refresh());
    return {};
}

Failure rule_needs_refresh() {
    return fixed_failure("setup_required",
                         "Windows protection setup must refresh its network rule.",
                         exit_code::setup_required);
}

}  // namespace quarvel
