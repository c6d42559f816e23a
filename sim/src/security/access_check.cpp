#include "security/access_check.h"

#include <winsim/security.h>

#include "files/ace_inheritance.h"
#include "security/sid.h"

namespace winsim {
namespace {

enum class Match { none, allow_and_deny, deny_only };

constexpr DWORD kAccessSystemSecurity = 0x01000000;
constexpr DWORD kOwnerImpliedRights = READ_CONTROL | WRITE_DAC;

bool is_enabled_group(const SidAndAttributes& group) {
    return (group.attributes & kGroupEnabled) != 0 &&
           (group.attributes & kGroupUseForDenyOnly) == 0;
}

// How an entry's SID applies to the token's normal SIDs.
Match normal_match(const TokenState& token, std::string_view sid) {
    if (same_sid(token.user, sid))
        return Match::allow_and_deny;
    Match found = Match::none;
    for (const auto& group : token.groups) {
        if (!same_sid(group.sid, sid))
            continue;
        if (is_enabled_group(group))
            return Match::allow_and_deny;
        if ((group.attributes & kGroupUseForDenyOnly) != 0)
            found = Match::deny_only;
    }
    return found;
}

// Restricting SIDs count whatever their attributes say, as Windows treats them.
Match restricting_match(const TokenState& token, std::string_view sid) {
    for (const auto& restricting : token.restricting_sids)
        if (same_sid(restricting.sid, sid))
            return Match::allow_and_deny;
    return Match::none;
}

template <class Matcher>
bool dacl_grants(const std::vector<AccessEntry>& dacl, DWORD desired, Matcher match) {
    DWORD remaining = desired;
    for (const auto& entry : dacl) {
        if (remaining == 0)
            break;
        if ((entry.flags & INHERIT_ONLY_ACE) != 0)
            continue;
        const Match applies = match(entry.sid);
        if (applies == Match::none)
            continue;
        if (entry.type == ACCESS_DENIED_ACE_TYPE) {
            if ((entry.mask & remaining) != 0)
                return false;
        } else if (entry.type == ACCESS_ALLOWED_ACE_TYPE && applies == Match::allow_and_deny) {
            remaining &= ~entry.mask;
        }
    }
    return remaining == 0;
}

// The two passes of Windows' discretionary check; `owner_normal` and `owner_restricted` are
// rights already granted by ownership in each pass.
bool passes(const TokenState& token, const std::vector<AccessEntry>& dacl, DWORD desired,
            DWORD write_rights, DWORD owner_normal, DWORD owner_restricted) {
    const auto normal = [&](std::string_view sid) { return normal_match(token, sid); };
    if (!dacl_grants(dacl, desired & ~owner_normal, normal))
        return false;
    if (!is_restricted(token))
        return true;
    const DWORD restricted_part =
        (token.write_restricted ? desired & write_rights : desired) & ~owner_restricted;
    const auto restricting = [&](std::string_view sid) { return restricting_match(token, sid); };
    return restricted_part == 0 || dacl_grants(dacl, restricted_part, restricting);
}

// The rights the entries grant to the SIDs `match` picks, each denied right refused only when
// no earlier entry granted it: how the access check answers MAXIMUM_ALLOWED.
template <class Matcher>
DWORD rights_granted(const std::vector<AccessEntry>& dacl, Matcher match) {
    DWORD granted = 0;
    DWORD denied = 0;
    for (const auto& entry : dacl) {
        if ((entry.flags & INHERIT_ONLY_ACE) != 0)
            continue;
        const Match applies = match(entry.sid);
        if (applies == Match::none)
            continue;
        if (entry.type == ACCESS_DENIED_ACE_TYPE)
            denied |= entry.mask & ~granted;
        else if (entry.type == ACCESS_ALLOWED_ACE_TYPE && applies == Match::allow_and_deny)
            granted |= entry.mask & ~denied;
    }
    return granted;
}

bool has_owner_rights_entry(const std::vector<AccessEntry>& dacl) {
    for (const auto& entry : dacl)
        if ((entry.flags & INHERIT_ONLY_ACE) == 0 && same_sid(entry.sid, kOwnerRightsSid))
            return true;
    return false;
}

// What an object's owner holds without an entry of its own, unless an OWNER RIGHTS entry says
// otherwise: for the normal check, and for the restricting SIDs' check when the owner is among
// them (or the token is not restricted).
struct OwnerRights {
    DWORD normal = 0;
    DWORD restricted = 0;
};

OwnerRights owner_implied_rights(const TokenState& token, const SecurityDescription& object,
                                 const std::vector<AccessEntry>& dacl) {
    OwnerRights owner;
    if (object.owner && !has_owner_rights_entry(dacl) && sid_enabled_in(token, *object.owner)) {
        owner.normal = kOwnerImpliedRights;
        if (!is_restricted(token) || restricting_match(token, *object.owner) != Match::none)
            owner.restricted = kOwnerImpliedRights;
    }
    return owner;
}

}  // namespace

bool sid_enabled_in(const TokenState& token, std::string_view sid) {
    return normal_match(token, sid) == Match::allow_and_deny;
}

bool token_is_member_of(const TokenState& token, std::string_view sid) {
    if (!sid_enabled_in(token, sid))
        return false;
    if (!is_restricted(token) || token.write_restricted)
        return true;
    return restricting_match(token, sid) != Match::none;
}

bool access_granted(const TokenState& token, const std::optional<std::vector<AccessEntry>>& dacl,
                    DWORD desired, DWORD write_rights) {
    if (!dacl || desired == 0)
        return true;
    return passes(token, *dacl, desired, write_rights, 0, 0);
}

DWORD restricted_write_rights(const GenericMapping& mapping) {
    return (mapping.write & ~(mapping.read | mapping.execute)) | DELETE | WRITE_DAC | WRITE_OWNER |
           kAccessSystemSecurity;
}

bool object_access_granted(const TokenState& token, const SecurityDescription& object,
                           DWORD desired, const GenericMapping& mapping) {
    const DWORD wanted = map_generic_rights(desired, mapping);
    if (!object.dacl || wanted == 0)
        return true;
    const auto dacl = map_generic_rights(*object.dacl, mapping);
    const OwnerRights owner = owner_implied_rights(token, object, dacl);
    return passes(token, dacl, wanted, restricted_write_rights(mapping), owner.normal,
                  owner.restricted);
}

DWORD maximum_allowed_access(const TokenState& token, const SecurityDescription& object,
                             const GenericMapping& mapping) {
    if (!object.dacl)
        return mapping.all;
    const auto dacl = map_generic_rights(*object.dacl, mapping);
    const OwnerRights owner = owner_implied_rights(token, object, dacl);
    const auto normal = [&](std::string_view sid) { return normal_match(token, sid); };
    DWORD granted = (rights_granted(dacl, normal) | owner.normal) & mapping.all;
    if (!is_restricted(token))
        return granted;
    const auto restricting = [&](std::string_view sid) { return restricting_match(token, sid); };
    const DWORD checked = token.write_restricted ? restricted_write_rights(mapping) : mapping.all;
    const DWORD restricted = rights_granted(dacl, restricting) | owner.restricted;
    return granted & (restricted | ~checked);
}

}  // namespace winsim
