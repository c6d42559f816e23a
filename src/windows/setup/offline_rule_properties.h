#pragma once
// What makes the offline rule block: the properties setup writes and the test every load makes.

#include <string_view>

#include "cli/failure.h"
#include "platform/win32.h"

namespace quarvel {

inline constexpr std::string_view kOfflineRuleName = "quarvel_protected_commands_offline";

// Sets Description, Direction (out), Action (block), Enabled, Profiles (all), Protocol (any)
// and LocalUserAuthorizedList, in that order, then widens whatever else could narrow the rule:
// LocalAddresses and RemoteAddresses "*", no ApplicationName or ServiceName, InterfaceTypes
// "All", no Interfaces, no LocalAppPackageId. Ports and ICMP types, which only TCP, UDP and
// ICMP rules carry, are set to "*" before the protocol changes (reading Protocol to know), as
// Windows refuses to change the protocol of a rule that still names them. The first call that
// fails ends it with firewall_rule_failed and the HRESULT message; the rest stay as they were.
Result<void> configure_rule(INetFwRule3* rule, std::string_view offline_sid);

// Reads LocalUserAuthorizedList, Enabled, Direction and Action, in that order, then Profiles,
// Protocol, the ports, the addresses, ApplicationName, ServiceName, InterfaceTypes, Interfaces
// and LocalAppPackageId (a failing read: firewall_rule_verify_failed with the HRESULT message).
// The rule passes when it blocks all outbound traffic of the account
// (blocks_all_outbound_traffic); otherwise setup_required, "Windows protection setup must
// refresh its network rule.", exit code 78.
Result<void> check_rule(INetFwRule3* rule, std::string_view offline_sid);

// setup_required, "Windows protection setup must refresh its network rule.", exit code 78.
Failure rule_needs_refresh();

}  // namespace quarvel
