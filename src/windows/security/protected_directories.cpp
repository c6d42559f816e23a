#include "windows/security/protected_directories.h"

#include <span>
#include <vector>

#include "windows/security/path_access.h"
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

Result<void> protect_state_directory(const PinnedPath& directory, std::string_view owner_sid,
                                     PSID group_sid) {
    if (auto protected_list =
            protect_for_keepers(directory.final_path(), owner_sid, {}, "state_acl_failed");
        !protected_list)
        return protected_list;
    if (auto group = copy_sid(group_sid); !group)
        return std::unexpected(std::move(group.error()));
    return {};
}

Result<void> protect_runtime_directory(WideView directory, std::string_view owner_sid,
                                       PSID group_sid) {
    // Held until the list is written, which names the directory by its own final path: the
    // policy's spelling may legitimately pass through links above it, the final path cannot.
    const auto pinned =
        pin_path(directory, {"Could not inspect command runtime directory",
                             "Command runtime directory cannot be a symbolic link."});
    if (!pinned)
        return std::unexpected(pinned.error());
    const EXPLICIT_ACCESS_W group =
        path_access_entry(group_sid, kReadAndExecuteAccess, GRANT_ACCESS);
    return protect_for_keepers(pinned->final_path(), owner_sid, std::span(&group, 1),
                               "runtime_acl_failed");
}

Result<void> protect_command_temp_directory(WideView directory, std::string_view owner_sid,
                                            PSID group_sid, PSID capability_sid) {
    const auto pinned =
        pin_path(directory, {"Could not inspect command runtime directory",
                             "Command runtime directory cannot be a symbolic link."});
    if (!pinned)
        return std::unexpected(pinned.error());
    const EXPLICIT_ACCESS_W modify[] = {
        path_access_entry(group_sid, kModifyAccess, GRANT_ACCESS),
        path_access_entry(capability_sid, kModifyAccess, GRANT_ACCESS)};
    return protect_for_keepers(pinned->final_path(), owner_sid, modify, "runtime_acl_failed");
}

}  // namespace quarvel
