#include "files/ace_inheritance.h"

#include <winsim/security.h>

#include "security/security_descriptor.h"
#include "security/sid.h"

namespace winsim {
namespace {

constexpr BYTE kInheritFlags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
constexpr ACCESS_MASK kGenericRights = GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL;

bool is_creator_sid(const std::string& sid) {
    return same_sid(sid, kCreatorOwnerSid) || same_sid(sid, kCreatorGroupSid);
}

// The entry as it applies to the child itself. The simulated host keeps no primary group, so
// CREATOR GROUP stands for the owner too.
AccessEntry effective_copy(const AccessEntry& entry, const std::string& owner) {
    return {entry.type, INHERITED_ACE, map_generic_rights(entry.mask, kFileGenericMapping),
            is_creator_sid(entry.sid) ? owner : entry.sid};
}

AccessEntry passed_on_copy(const AccessEntry& entry, bool inherit_only) {
    const BYTE flags = static_cast<BYTE>((entry.flags & kInheritFlags) | INHERITED_ACE |
                                         (inherit_only ? INHERIT_ONLY_ACE : 0));
    return {entry.type, flags, entry.mask, entry.sid};
}

void inherit_into_file(const AccessEntry& entry, const std::string& owner,
                       std::vector<AccessEntry>& child) {
    if ((entry.flags & OBJECT_INHERIT_ACE) != 0)
        child.push_back(effective_copy(entry, owner));
}

void inherit_into_directory(const AccessEntry& entry, const std::string& owner,
                            std::vector<AccessEntry>& child) {
    const bool no_propagate = (entry.flags & NO_PROPAGATE_INHERIT_ACE) != 0;
    const bool effective = (entry.flags & CONTAINER_INHERIT_ACE) != 0;
    const bool passed_on = !no_propagate;
    if (effective && passed_on) {
        const bool needs_mapping = (entry.mask & kGenericRights) != 0 || is_creator_sid(entry.sid);
        if (needs_mapping) {
            child.push_back(effective_copy(entry, owner));
            child.push_back(passed_on_copy(entry, true));
        } else {
            child.push_back(passed_on_copy(entry, false));
        }
    } else if (effective) {
        child.push_back(effective_copy(entry, owner));
    } else if (passed_on) {
        // Object-inherit only: it means nothing to the directory but reaches its files.
        child.push_back(passed_on_copy(entry, true));
    }
}

}  // namespace

std::vector<AccessEntry> inherited_entries(const std::vector<AccessEntry>& parent_dacl,
                                           bool container, const std::string& owner) {
    std::vector<AccessEntry> child;
    for (const auto& entry : parent_dacl) {
        if ((entry.flags & kInheritFlags) == 0)
            continue;
        if (container)
            inherit_into_directory(entry, owner, child);
        else
            inherit_into_file(entry, owner, child);
    }
    return child;
}

std::vector<AccessEntry> explicit_entries(const std::vector<AccessEntry>& dacl) {
    std::vector<AccessEntry> entries;
    for (const auto& entry : dacl)
        if ((entry.flags & INHERITED_ACE) == 0)
            entries.push_back(entry);
    return entries;
}

}  // namespace winsim
