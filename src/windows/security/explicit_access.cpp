#include "windows/security/explicit_access.h"

namespace quarvel {

EXPLICIT_ACCESS_W sid_access_entry(PSID sid, DWORD permissions, ACCESS_MODE mode,
                                   DWORD inheritance) {
    EXPLICIT_ACCESS_W entry{};
    entry.grfAccessPermissions = permissions;
    entry.grfAccessMode = mode;
    entry.grfInheritance = inheritance;
    entry.Trustee.pMultipleTrustee = nullptr;
    entry.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
    entry.Trustee.ptstrName = static_cast<LPWSTR>(sid);
    return entry;
}

EXPLICIT_ACCESS_W grant_to_sid(PSID sid, DWORD permissions) {
    return sid_access_entry(sid, permissions, GRANT_ACCESS, NO_INHERITANCE);
}

std::expected<LocalPtr<ACL>, DWORD> merge_grants(std::span<EXPLICIT_ACCESS_W> grants,
                                                 PACL old_acl) {
    PACL merged = nullptr;
    const DWORD result =
        SetEntriesInAclW(static_cast<ULONG>(grants.size()), grants.data(), old_acl, &merged);
    LocalPtr<ACL> owned(merged);
    if (result != ERROR_SUCCESS)
        return std::unexpected(result);
    return owned;
}

}  // namespace quarvel
