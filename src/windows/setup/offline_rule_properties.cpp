#include "windows/setup/offline_rule_properties.h"

#include <string>

#include "platform/com_resource.h"
#include "windows/setup/hresult_message.h"

namespace quarvel {
namespace {

constexpr std::string_view kOfflineRuleDescription =
    "Quarvel protected commands without network access";

// NET_FW_IP_PROTOCOL_ANY of the Windows SDK; not every toolchain's headers name it.
constexpr LONG kAnyProtocol = 256;

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
        step = written(rule->put_Protocol(kAnyProtocol));
    if (step)
        step = write_text(rule, &INetFwRule3::put_LocalUserAuthorizedList,
                          offline_rule_users(offline_sid));
    return step;
}

Result<void> check_rule(INetFwRule3* rule, std::string_view offline_sid) {
    UniqueBstr users;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_IN;
    NET_FW_ACTION action = NET_FW_ACTION_ALLOW;
    Result<void> step = read(rule->get_LocalUserAuthorizedList(users.put()));
    if (step)
        step = read(rule->get_Enabled(&enabled));
    if (step)
        step = read(rule->get_Direction(&direction));
    if (step)
        step = read(rule->get_Action(&action));
    if (!step)
        return step;

    const bool names_account = bstr_to_utf8(users.get()).find(offline_sid) != std::string::npos;
    if (!names_account || enabled != VARIANT_TRUE || direction != NET_FW_RULE_DIR_OUT ||
        action != NET_FW_ACTION_BLOCK)
        return std::unexpected(rule_needs_refresh());
    return {};
}

Failure rule_needs_refresh() {
    return fixed_failure("setup_required",
                         "Windows protection setup must refresh its network rule.",
                         exit_code::setup_required);
}

}  // namespace quarvel
