#include "security/privileges.h"

#include <array>

#include "machine/ascii_text.h"

namespace winsim {
namespace {

// Index + 2 is the LUID's low part (SE_CREATE_TOKEN_PRIVILEGE is 2).
constexpr std::array<std::string_view, 35> kPrivileges = {
    "SeCreateTokenPrivilege",
    "SeAssignPrimaryTokenPrivilege",
    "SeLockMemoryPrivilege",
    "SeIncreaseQuotaPrivilege",
    "SeMachineAccountPrivilege",
    "SeTcbPrivilege",
    "SeSecurityPrivilege",
    "SeTakeOwnershipPrivilege",
    "SeLoadDriverPrivilege",
    "SeSystemProfilePrivilege",
    "SeSystemtimePrivilege",
    "SeProfileSingleProcessPrivilege",
    "SeIncreaseBasePriorityPrivilege",
    "SeCreatePagefilePrivilege",
    "SeCreatePermanentPrivilege",
    "SeBackupPrivilege",
    "SeRestorePrivilege",
    "SeShutdownPrivilege",
    "SeDebugPrivilege",
    "SeAuditPrivilege",
    "SeSystemEnvironmentPrivilege",
    "SeChangeNotifyPrivilege",
    "SeRemoteShutdownPrivilege",
    "SeUndockPrivilege",
    "SeSyncAgentPrivilege",
    "SeEnableDelegationPrivilege",
    "SeManageVolumePrivilege",
    "SeImpersonatePrivilege",
    "SeCreateGlobalPrivilege",
    "SeTrustedCredManAccessPrivilege",
    "SeRelabelPrivilege",
    "SeIncreaseWorkingSetPrivilege",
    "SeTimeZonePrivilege",
    "SeCreateSymbolicLinkPrivilege",
    "SeDelegateSessionUserImpersonatePrivilege",
};
constexpr DWORD kFirstLuid = 2;

}  // namespace

std::optional<LUID> privilege_luid(std::string_view name) {
    for (std::size_t k = 0; k < kPrivileges.size(); ++k)
        if (winsim::equal_ignoring_ascii_case(kPrivileges[k], name))
            return LUID{static_cast<DWORD>(k) + kFirstLuid, 0};
    return std::nullopt;
}

std::optional<std::string> privilege_name(LUID luid) {
    if (luid.HighPart != 0 || luid.LowPart < kFirstLuid ||
        luid.LowPart - kFirstLuid >= kPrivileges.size())
        return std::nullopt;
    return std::string(kPrivileges[luid.LowPart - kFirstLuid]);
}

}  // namespace winsim
