#pragma once
// The values a firewall rule's properties take, as the simulated firewall checks them when a
// property is set (sim/README.md, "The firewall", says which checks are Windows' documented
// ones and which are guesses).

#include <winsim/types.h>

#include <string_view>

namespace winsim {

// Ports belong to TCP and UDP rules, ICMP types and codes to ICMP rules (ICMPv4 1, ICMPv6 58).
bool protocol_has_ports(LONG protocol);
bool protocol_has_icmp_types(LONG protocol);

// "*", or a comma-separated list of port numbers (0-65535), ranges "low-high" and keywords
// such as "RPC" or "RPC-EPMap".
bool is_port_list(std::u16string_view text);

// "*", or ICMP types with an optional code ("8", "8:0", "3:*") separated by ";" or ",".
bool is_icmp_list(std::u16string_view text);

// "*" alone, or a comma-separated list of the keywords Defaultgateway, DHCP, DNS, WINS and
// LocalSubnet (any ASCII case), IPv4 or IPv6 addresses, subnets ("10.0.0.0/8") and ranges
// ("10.0.0.1-10.0.0.9").
bool is_address_list(std::u16string_view text);

// "All" alone, or a comma-separated list of "RemoteAccess", "Wireless" and "Lan", any ASCII
// case.
bool is_interface_type_list(std::u16string_view text);

}  // namespace winsim
