#include "access_check.h"

#include <winsim/security.h>

#include "sid.h"

namespace winsim {
namespace {

enum class Match { none, allow_and_deny, deny_only };

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
    const auto normal = [&](std::string_view sid) { return normal_match(token, sid); };
    if (!dacl_grants(*dacl, desired, normal))
        return false;
    if (!is_restricted(token))
        return true;
    const DWORD restricted_part = token.write_restricted ? desired & write_rights : desired;
    const auto restricting = [&](std::string_view sid) { return restricting_match(token, sid); };
    return restricted_part == 0 || dacl_grants(*dacl, restricted_part, restricting);
}

}  // namespace winsim
