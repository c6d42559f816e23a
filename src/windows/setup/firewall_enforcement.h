#pragma once
// Whether Windows Firewall applies the machine's own rules now: a rule blocks nothing while the
// firewall is off for the network the traffic takes, or while group policy sets the rules and
// keeps local ones from applying.

#include "cli/failure.h"
#include "platform/win32.h"

namespace quarvel {

// Reads the current profiles (CurrentProfileTypes), whether the firewall is on for each of them
// (FirewallEnabled, one profile at a time), and LocalPolicyModifyState, in that order. A setting
// that cannot be read: firewall_unavailable with the HRESULT message, exit code 70. The firewall
// off for a current profile, or group policy overriding local rules (GP_OVERRIDE, or a state
// this program does not know): firewall_disabled, "Windows Firewall is not enforcing the network
// rule for commands without network access.", exit code 78.
Result<void> check_firewall_enforcement(INetFwPolicy2* policy);

}  // namespace quarvel
