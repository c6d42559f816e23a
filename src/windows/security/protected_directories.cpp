#include "windows/security/protected_directories.h"

#include "windows/security/path_access.h"
#include "windows/security/reparse_point.h"
#include "windows/security/sid_conversion.h"

namespace quarvel {
namespace {

constexpr std::string_view kAdministratorsSid = "S-1-5-32-544";
constexpr std::string_view kLocalSystemSid = "S-1-5-18";

// The owner, Administrators and SYSTEM, converted in that order.
struct KeeperSids {
    OwnedSid owner;
    OwnedSid administrators;
    OwnedSid system;
};

Result<KeeperSids> keeper_sids(std::string_view owner_sid) {
    auto owner = sid_from_string(owner_sid);
    if (!owner)
        return std::unexpected(std::move(owner.error()));
    auto administrators = sid_from_string(kAdministratorsSid);
    if (!administrators)
        return std::unexpected(std::move(administrators.error()));
    auto system = sid_from_string(kLocalSystemSid);
    if (!system)
        return std::unexpected(std::move(system.error()));
    return KeeperSids{std::move(*owner), std::move(*administrators), std::move(*system)};
}

}  // namespace

Result<void> protect_state_directory(WideView directory, std::string_view owner_sid,
                                     PSID group_sid) {
    const auto keepers = keeper_sids(owner_sid);
    if (!keepers)
        return std::unexpected(keepers.error());
    EXPLICIT_ACCESS_W entries[] = {
        path_access_entry(keepers->owner.get(), kFullAccess, GRANT_ACCESS),
        path_access_entry(keepers->administrators.get(), kFullAccess, GRANT_ACCESS),
        path_access_entry(keepers->system.get(), kFullAccess, GRANT_ACCESS),
    };
    if (auto protected_list = protect_directory(directory, entries, "state_acl_failed");
        !protected_list)
        return protected_list;
    if (auto group = copy_sid(group_sid); !group)
        return std::unexpected(std::move(group.error()));
    return {};
}

Result<void> protect_runtime_directory(WideView directory, std::string_view owner_sid,
                                       PSID group_sid) {
    const auto link = is_name_surrogate_reparse_point(directory);
    if (!link)
        return std::unexpected(
            io_failure("Could not inspect command runtime directory", link.error()));
    if (*link)
        return std::unexpected(fixed_failure("reparse_path_rejected",
                                             "Command runtime directory cannot be a symbolic link.",
                                             exit_code::internal));
    const auto keepers = keeper_sids(owner_sid);
    if (!keepers)
        return std::unexpected(keepers.error());
    EXPLICIT_ACCESS_W entries[] = {
        path_access_entry(keepers->owner.get(), kFullAccess, GRANT_ACCESS),
        path_access_entry(keepers->administrators.get(), kFullAccess, GRANT_ACCESS),
        path_access_entry(keepers->system.get(), kFullAccess, GRANT_ACCESS),
        path_access_entry(group_sid, kReadAndExecuteAccess, GRANT_ACCESS),
    };
    return protect_directory(directory, entries, "runtime_acl_failed");
}

}  // namespace quarvel
