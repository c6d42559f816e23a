#pragma once
// Windows' rules for the entries a new or existing child takes from its parent's DACL
// (ACE inheritance rules of the Windows documentation): object-inherit entries reach files,
// container-inherit entries reach directories and stay inheritable unless no-propagate is
// set, object-inherit entries pass through directories as inherit-only entries, and every
// inherited entry carries INHERITED_ACE. An entry that takes effect on the child has its
// generic rights mapped and CREATOR OWNER / CREATOR GROUP replaced; when such an entry must
// also be passed on, the child gets it twice: effective (mapped) and inherit-only (as it was).

#include <string>
#include <vector>

#include "security/token.h"

namespace winsim {

inline constexpr std::string_view kCreatorOwnerSid = "S-1-3-0";
inline constexpr std::string_view kCreatorGroupSid = "S-1-3-1";
inline constexpr std::string_view kOwnerRightsSid = "S-1-3-4";

// The entries a child (a directory when `container`) owned by `owner` inherits from its
// parent's DACL, in the parent's order.
std::vector<AccessEntry> inherited_entries(const std::vector<AccessEntry>& parent_dacl,
                                           bool container, const std::string& owner);

// The entries of a DACL that were set on the object itself (INHERITED_ACE clear).
std::vector<AccessEntry> explicit_entries(const std::vector<AccessEntry>& dacl);

}  // namespace winsim
