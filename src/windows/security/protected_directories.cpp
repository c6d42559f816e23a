#include "windows/security/protected_directories.h"

#include <span>
#include <vector>

#include "windows/security/path_access.h"
#include "windows/security/reparse_point.h"
#include "windows/security/sid_conversion.h"

namespace quarvel {
namespace {

constexpr std::string_view kAdministratorsSid = "S-1-5-32-544";
constexpr std::string_view kLocalSystemSid = "S-1-5-18";

// Replaces the directory's list by full access for the owner, Administrators and SYSTEM, in
// that order (their SIDs converted in that order too), followed by `more`.
Result<void> protect_for_keepers(WideView directory, std::string_view owner_sid,
                                 std::span<const EXPLICIT_ACCESS_W> more, std::string_view code) {
    auto owner = sid_from_string(owner_sid);
    if (!owner)
        return std::unexpected(std::move(owner.error()));
    auto administrators = sid_from_string(kAdministratorsSid);
    if (!administrators)
        return std::unexpected(std::move(administrators.error()));
    auto system = sid_from_string(kLocalSystemSid);
    if (!system)
        return std::unexpected(std::move(system.error()));
    std::vector<EXPLICIT_ACCESS_W> entries = {
        path_access_entry(owner->get(), kFullAccess, GRANT_ACCESS),
        path_access_entry(administrators->get(), kFullAccess, GRANT_ACCESS),
        path_access_entry(system->get(), kFullAccess, GRANT_ACCESS),
    };
    entries.insert(entries.end(), more.begin(), more.end());
    return protect_directory(directory, entries, code);
}

}  // namespace

Result<void> protect_state_directory(WideView directory, std::string_view owner_sid,
                                     PSID group_sid) {
    if (auto protected_list = protect_for_keepers(directory, owner_sid, {}, "state_acl_failed");
        !protected_list)
        return protected_list;
    if (auto group = copy_sid(group_sid); !group)
        return std::unexpected(std::move(group.error()));
    return {};
}

Result<void> protect_runtime_directory(WideView directory, std::string_view owner_sid,
                                       PSID group_sid) {
    if (auto not_link = refuse_link(directory, "Could not inspect command runtime directory",
                                    "Command runtime directory cannot be a symbolic link.");
        !not_link)
        return not_link;
    const EXPLICIT_ACCESS_W group =
        path_access_entry(group_sid, kReadAndExecuteAccess, GRANT_ACCESS);
    return protect_for_keepers(directory, owner_sid, std::span(&group, 1), "runtime_acl_failed");
}

}  // namespace quarvel
