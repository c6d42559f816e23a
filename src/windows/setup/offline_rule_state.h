#pragma once
// The offline rule's properties as read back from Windows, and the test whether they block all
// outbound traffic of the offline account.

#include <optional>
#include <string>
#include <string_view>

namespace quarvel {

// A text property that Windows may hand out as null is nothing here.
struct OfflineRuleState {
    std::string authorized_users;  // LocalUserAuthorizedList, SDDL ("" for null)
    bool enabled = false;
    int direction = 0;  // NET_FW_RULE_DIRECTION
    int action = 0;     // NET_FW_ACTION
    int profiles = 0;   // NET_FW_PROFILE_TYPE2 bits
    int protocol = 0;   // IP protocol number, 256 for any
    std::optional<std::string> local_ports;
    std::optional<std::string> remote_ports;
    std::optional<std::string> local_addresses;
    std::optional<std::string> remote_addresses;
    std::optional<std::string> application;
    std::optional<std::string> service;
    std::optional<std::string> interface_types;
    bool all_interfaces = false;         // Interfaces names no interface
    std::optional<std::string> package;  // LocalAppPackageId
};

// Whether the rule blocks every outbound packet of `offline_sid`: enabled, outbound, blocking,
// the account authorised (authorizes_user), every profile, any protocol, any local and remote
// port and address, and no application, service, package, interface or interface type that
// would narrow it.
bool blocks_all_outbound_traffic(const OfflineRuleState& rule, std::string_view offline_sid);

}  // namespace quarvel
