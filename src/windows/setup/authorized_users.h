#pragma once
// Whom a firewall rule's LocalUserAuthorizedList makes the rule apply to, read from its SDDL
// text without asking Windows.

#include <string_view>

namespace quarvel {

// True when the security descriptor `sddl` provably makes the rule apply to the account `sid`:
// its discretionary list holds an allow entry ("A") whose SID text is exactly `sid`, that applies
// to the object itself (no inherit-only flag) and grants the firewall's match right (CC, 0x1);
// and it holds only allow entries. Any other entry type (a deny entry, a callback or object
// entry) may exempt the account, directly or through a group it belongs to, so it fails the
// test; so does text that cannot be read as SDDL, a missing or null list, and an empty `sid`.
bool authorizes_user(std::string_view sddl, std::string_view sid);

}  // namespace quarvel
