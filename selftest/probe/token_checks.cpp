#include <span>
#include <string>

#include "platform/win32.h"
#include "selftest/probe/sandbox_checks.h"
#include "windows/security/sid_conversion.h"
#include "windows/security/token_information.h"

namespace quarvel::selftest {
namespace {

constexpr const char* kAdministrators = "S-1-5-32-544";
constexpr DWORD kLogonIdAttributes = 0xC0000000;

Result<TokenInformation> read(HANDLE token, TOKEN_INFORMATION_CLASS information_class) {
    return read_token_information(token, information_class, "selftest_token_failed",
                                  "the command's token");
}

std::string text_of(PSID sid) {
    auto text = sid_to_string(sid);
    return text ? *text : std::string("(unreadable)");
}

std::span<const SID_AND_ATTRIBUTES> groups_of(const TokenInformation& information) {
    const auto* groups = information.as<TOKEN_GROUPS>();
    return {groups->Groups, groups->GroupCount};
}

CheckResult unreadable(const char* id, const char* title, Expectation expected,
                       const Failure& failure) {
    return not_reached(id, title, expected, failure.message);
}

CheckResult restriction_check(HANDLE token, bool& restricted) {
    const char* id = "token.restricted";
    const char* title = "the token is restricted";
    auto sids = read(token, TokenRestrictedSids);
    if (!sids)
        return unreadable(id, title, Expectation::holds, sids.error());
    std::string observed;
    for (const auto& sid : groups_of(*sids))
        observed += (observed.empty() ? "restricting SIDs " : ", ") + text_of(sid.Sid);
    restricted = !groups_of(*sids).empty();
    return property(id, title, restricted, restricted ? observed : "no restricting SIDs");
}

CheckResult privilege_check(HANDLE token) {
    const char* id = "token.privileges";
    const char* title = "the token holds SeChangeNotifyPrivilege and no other privilege";
    auto privileges = read(token, TokenPrivileges);
    LUID change_notify{};
    if (!privileges ||
        !LookupPrivilegeValueW(nullptr, WIDE("SeChangeNotifyPrivilege"), &change_notify))
        return not_reached(id, title, Expectation::holds, "its privileges could not be read");
    const auto* list = privileges->as<TOKEN_PRIVILEGES>();
    const std::span entries(list->Privileges, list->PrivilegeCount);
    const bool only_change_notify = entries.size() == 1 &&
                                    entries[0].Luid.LowPart == change_notify.LowPart &&
                                    entries[0].Luid.HighPart == change_notify.HighPart;
    return property(id, title, only_change_notify,
                    only_change_notify ? "SeChangeNotifyPrivilege only"
                                       : std::to_string(entries.size()) + " privileges");
}

CheckResult administrator_check(HANDLE token, const TokenInformation& groups) {
    const char* id = "token.not_administrator";
    const char* title = "the token is no administrator's (not elevated, not in Administrators)";
    bool in_administrators = false;
    for (const auto& group : groups_of(groups))
        in_administrators = in_administrators || text_of(group.Sid) == kAdministrators;
    auto elevation = read(token, TokenElevation);
    if (!elevation)
        return unreadable(id, title, Expectation::holds, elevation.error());
    const bool elevated = elevation->as<TOKEN_ELEVATION>()->TokenIsElevated != 0;
    std::string observed = std::string(elevated ? "elevated" : "not elevated") + ", " +
                           (in_administrators ? "in Administrators" : "not in Administrators");
    return property(id, title, !elevated && !in_administrators, observed);
}

CheckResult user_check(HANDLE token, const ProbeRequest& request) {
    const char* id = "token.user";
    const char* title = "the token's user is the protected account";
    auto user = read(token, TokenUser);
    if (!user)
        return unreadable(id, title, Expectation::holds, user.error());
    const std::string sid = text_of(user->as<TOKEN_USER>()->User.Sid);
    return property(id, title, sid == request.expected_user_sid && sid != request.host_user_sid,
                    sid);
}

CheckResult logon_sid_observation(const TokenInformation& groups, const ProbeRequest& request) {
    std::string own;
    for (const auto& group : groups_of(groups))
        if ((group.Attributes & kLogonIdAttributes) == kLogonIdAttributes) {
            own = text_of(group.Sid);
            break;
        }
    const char* title = "the token's logon SID is the runner's";
    if (own.empty())
        return observation("token.logon_sid", title, "the token has no logon SID");
    return observation("token.logon_sid", title,
                       own == request.runner_logon_sid ? "yes, " + own
                                                       : "no, its own " + own + " (the runner's " +
                                                             request.runner_logon_sid + ")");
}

}  // namespace

std::vector<CheckResult> token_checks(const ProbeRequest& request, bool group_only_read_allowed) {
    std::vector<CheckResult> checks;
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        const std::string why =
            "its token could not be opened (Windows error " + std::to_string(GetLastError()) + ")";
        for (const char* id : {"token.restricted", "token.write_restricted", "token.privileges",
                               "token.not_administrator", "token.user"})
            checks.push_back(not_reached(id, id, Expectation::holds, why));
        return checks;
    }
    bool restricted = false;
    checks.push_back(restriction_check(token.get(), restricted));
    // Windows offers no query for the write restriction; what shows it is a read that only
    // the sandbox group's entry allows succeeding while the token has restricting SIDs, which
    // would otherwise be checked for reads as well.
    checks.push_back(property("token.write_restricted",
                              "the token is write-restricted (reads pass on the group alone)",
                              restricted && group_only_read_allowed,
                              !restricted               ? "not restricted at all"
                              : group_only_read_allowed ? "restricted for writes only"
                                                        : "reads are restricted too"));
    checks.push_back(privilege_check(token.get()));
    auto groups = read(token.get(), TokenGroups);
    if (!groups) {
        checks.push_back(unreadable("token.not_administrator", "the token is no administrator's",
                                    Expectation::holds, groups.error()));
    } else {
        checks.push_back(administrator_check(token.get(), *groups));
    }
    checks.push_back(user_check(token.get(), request));
    if (groups)
        checks.push_back(logon_sid_observation(*groups, request));
    return checks;
}

}  // namespace quarvel::selftest
