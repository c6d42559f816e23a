#pragma once
// Narrowing an access token: restricted tokens, privileges and the default DACL.

#include <winsim/security.h>

#define DISABLE_MAX_PRIVILEGE 0x1u
#define SANDBOX_INERT 0x2u
#define LUA_TOKEN 0x4u
#define WRITE_RESTRICTED 0x8u

#define ERROR_NO_SUCH_PRIVILEGE 1313L
#define ERROR_BAD_TOKEN_TYPE 1349L
#define ERROR_BAD_LENGTH 24L

// A new primary token from `existing`: DISABLE_MAX_PRIVILEGE removes every privilege but
// SeChangeNotifyPrivilege; LUA_TOKEN marks a limited-user token; WRITE_RESTRICTED makes the
// restricting SIDs apply to write access only. The SIDs to disable become deny-only groups,
// the privileges to delete are removed, and the restricting SIDs are added in the order given
// (as enabled, mandatory groups: attributes 7). Fault injection: the injected error, or with a
// quirk success with a null token handle.
BOOL CreateRestrictedToken(HANDLE existing, DWORD flags, DWORD disable_count,
                           PSID_AND_ATTRIBUTES sids_to_disable, DWORD delete_count,
                           LUID_AND_ATTRIBUTES* privileges_to_delete, DWORD restricted_count,
                           PSID_AND_ATTRIBUTES sids_to_restrict, PHANDLE new_token);

// TRUE when the token has restricting SIDs. Fault injection: FALSE with the injected last
// error; with a quirk FALSE and no error, as if Windows had not marked the token.
BOOL IsTokenRestricted(HANDLE token);

// Names compare without regard to case; an unknown name fails with ERROR_NO_SUCH_PRIVILEGE.
BOOL LookupPrivilegeValueW(LPCWSTR system_name, LPCWSTR name, PLUID luid);

// Enables, disables (attributes 0) or removes (SE_PRIVILEGE_REMOVED) the listed privileges.
// A privilege the token does not hold is skipped, and the call then succeeds with
// ERROR_NOT_ALL_ASSIGNED as its last error (ERROR_SUCCESS otherwise), as Windows does. A
// previous-state buffer is not supported (ERROR_INVALID_PARAMETER). Fault injection: the
// injected error, or with a quirk success with ERROR_NOT_ALL_ASSIGNED and no change.
BOOL AdjustTokenPrivileges(HANDLE token, BOOL disable_all, TOKEN_PRIVILEGES* new_state,
                           DWORD buffer_length, TOKEN_PRIVILEGES* previous_state,
                           PDWORD return_length);

// TokenDefaultDacl only (ERROR_INVALID_PARAMETER for other classes): a TOKEN_DEFAULT_DACL of
// at least 8 bytes (ERROR_BAD_LENGTH) whose ACL becomes the token's default DACL (a null ACL
// removes it); a malformed ACL fails with ERROR_INVALID_ACL.
BOOL SetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS information_class,
                         LPVOID information, DWORD length);
