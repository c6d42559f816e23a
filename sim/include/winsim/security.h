#pragma once
// advapi32 security identifiers and access tokens, in the layouts of 64-bit Windows.

#include <winsim/types.h>

// ------------------------------------------------------------------ security identifiers

struct SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
};
using PSID_IDENTIFIER_AUTHORITY = SID_IDENTIFIER_AUTHORITY*;

#define ANYSIZE_ARRAY 1
#define SID_REVISION 1
#define SID_MAX_SUB_AUTHORITIES 15
#define SECURITY_MAX_SID_SIZE 68

struct SID {
    BYTE Revision;
    BYTE SubAuthorityCount;
    SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
    DWORD SubAuthority[ANYSIZE_ARRAY];
};
using PSID = void*;

struct SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
};
using PSID_AND_ATTRIBUTES = SID_AND_ATTRIBUTES*;

// Accepts the standard form ("S-1-5-32-544", authority in decimal or as 0x + 12 hex digits)
// and the two-letter aliases of well-known SIDs ("WD", "SY", "BA", ...). The SID is one
// LocalAlloc block, released with LocalFree. Malformed text: ERROR_INVALID_SID.
BOOL ConvertStringSidToSidW(LPCWSTR string_sid, PSID* sid);
// The text is one LocalAlloc block, released with LocalFree. Invalid SID: ERROR_INVALID_SID.
BOOL ConvertSidToStringSidW(PSID sid, LPWSTR* string_sid);
// 8 + 4 x sub-authority count. An invalid SID gives 0 with ERROR_INVALID_SID (Windows leaves
// the result undefined); an injected fault gives 0 with the injected last error.
DWORD GetLengthSid(PSID sid);
BOOL CopySid(DWORD destination_length, PSID destination, PSID source);
BOOL IsValidSid(PSID sid);

// ------------------------------------------------------------------ access control lists

struct ACL {
    BYTE AclRevision;
    BYTE Sbz1;
    WORD AclSize;
    WORD AceCount;
    WORD Sbz2;
};
using PACL = ACL*;

struct ACE_HEADER {
    BYTE AceType;
    BYTE AceFlags;
    WORD AceSize;
};
using PACE_HEADER = ACE_HEADER*;

// Allowed and denied entries share this layout: the SID starts at SidStart.
struct ACCESS_ALLOWED_ACE {
    ACE_HEADER Header;
    DWORD Mask;
    DWORD SidStart;
};
struct ACCESS_DENIED_ACE {
    ACE_HEADER Header;
    DWORD Mask;
    DWORD SidStart;
};

#define ACL_REVISION 2
#define ACCESS_ALLOWED_ACE_TYPE 0x0
#define ACCESS_DENIED_ACE_TYPE 0x1
#define OBJECT_INHERIT_ACE 0x1
#define CONTAINER_INHERIT_ACE 0x2
#define NO_PROPAGATE_INHERIT_ACE 0x4
#define INHERIT_ONLY_ACE 0x8
#define INHERITED_ACE 0x10

// ------------------------------------------------------------------ access rights

using ACCESS_MASK = DWORD;
using PACCESS_MASK = ACCESS_MASK*;

#define DELETE 0x00010000u
#define READ_CONTROL 0x00020000u
#define WRITE_DAC 0x00040000u
#define WRITE_OWNER 0x00080000u
#define SYNCHRONIZE 0x00100000u
#define STANDARD_RIGHTS_REQUIRED 0x000F0000u
#define STANDARD_RIGHTS_READ READ_CONTROL
#define STANDARD_RIGHTS_WRITE READ_CONTROL
#define STANDARD_RIGHTS_EXECUTE READ_CONTROL
#define STANDARD_RIGHTS_ALL 0x001F0000u
#define MAXIMUM_ALLOWED 0x02000000u
#define GENERIC_ALL 0x10000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_READ 0x80000000u

// ------------------------------------------------------------------ access tokens

#define TOKEN_ASSIGN_PRIMARY 0x0001u
#define TOKEN_DUPLICATE 0x0002u
#define TOKEN_IMPERSONATE 0x0004u
#define TOKEN_QUERY 0x0008u
#define TOKEN_QUERY_SOURCE 0x0010u
#define TOKEN_ADJUST_PRIVILEGES 0x0020u
#define TOKEN_ADJUST_GROUPS 0x0040u
#define TOKEN_ADJUST_DEFAULT 0x0080u
#define TOKEN_ADJUST_SESSIONID 0x0100u
#define TOKEN_ALL_ACCESS 0x000F01FFu

#define SE_GROUP_MANDATORY 0x00000001L
#define SE_GROUP_ENABLED_BY_DEFAULT 0x00000002L
#define SE_GROUP_ENABLED 0x00000004L
#define SE_GROUP_OWNER 0x00000008L
#define SE_GROUP_USE_FOR_DENY_ONLY 0x00000010L
#define SE_GROUP_INTEGRITY 0x00000020L
#define SE_GROUP_INTEGRITY_ENABLED 0x00000040L
#define SE_GROUP_RESOURCE 0x20000000L
#define SE_GROUP_LOGON_ID 0xC0000000L

#define SE_PRIVILEGE_ENABLED_BY_DEFAULT 0x00000001L
#define SE_PRIVILEGE_ENABLED 0x00000002L
#define SE_PRIVILEGE_REMOVED 0x00000004L
#define SE_PRIVILEGE_USED_FOR_ACCESS 0x80000000L

#define ERROR_NOACCESS 998L
#define ERROR_NO_IMPERSONATION_TOKEN 1309L
#define ERROR_BAD_IMPERSONATION_LEVEL 1346L

enum TOKEN_INFORMATION_CLASS {
    TokenUser = 1,
    TokenGroups,
    TokenPrivileges,
    TokenOwner,
    TokenPrimaryGroup,
    TokenDefaultDacl,
    TokenSource,
    TokenType,
    TokenImpersonationLevel,
    TokenStatistics,
    TokenRestrictedSids,
    TokenSessionId,
    TokenGroupsAndPrivileges,
    TokenSessionReference,
    TokenSandBoxInert,
    TokenAuditPolicy,
    TokenOrigin,
    TokenElevationType,
    TokenLinkedToken,
    TokenElevation,
    TokenHasRestrictions,
    TokenAccessInformation,
    TokenVirtualizationAllowed,
    TokenVirtualizationEnabled,
    TokenIntegrityLevel,
    TokenUIAccess,
    TokenMandatoryPolicy,
    TokenLogonSid,
};

enum SECURITY_IMPERSONATION_LEVEL {
    SecurityAnonymous,
    SecurityIdentification,
    SecurityImpersonation,
    SecurityDelegation,
};

enum TOKEN_TYPE {
    TokenPrimary = 1,
    TokenImpersonation,
};

struct LUID {
    DWORD LowPart;
    LONG HighPart;
};
using PLUID = LUID*;

struct LUID_AND_ATTRIBUTES {
    LUID Luid;
    DWORD Attributes;
};

struct TOKEN_USER {
    SID_AND_ATTRIBUTES User;
};
using PTOKEN_USER = TOKEN_USER*;

struct TOKEN_GROUPS {
    DWORD GroupCount;
    SID_AND_ATTRIBUTES Groups[ANYSIZE_ARRAY];
};
using PTOKEN_GROUPS = TOKEN_GROUPS*;

struct TOKEN_PRIVILEGES {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[ANYSIZE_ARRAY];
};
using PTOKEN_PRIVILEGES = TOKEN_PRIVILEGES*;

struct TOKEN_ELEVATION {
    DWORD TokenIsElevated;
};
using PTOKEN_ELEVATION = TOKEN_ELEVATION*;

struct TOKEN_DEFAULT_DACL {
    PACL DefaultDacl;
};
using PTOKEN_DEFAULT_DACL = TOKEN_DEFAULT_DACL*;

// The process handle must be GetCurrentProcess(). Every open of a process's token refers to
// the same token object, so a change made through one handle is seen through the others.
BOOL OpenProcessToken(HANDLE process, DWORD desired_access, PHANDLE token);

// The size protocol of Windows: too small a buffer (none at all included) fails with
// ERROR_INSUFFICIENT_BUFFER and reports the needed length. Supported classes: TokenUser,
// TokenGroups, TokenPrivileges, TokenDefaultDacl, TokenType, TokenRestrictedSids,
// TokenElevation, TokenLogonSid; others fail with ERROR_INVALID_PARAMETER. An injected fault
// fails the call with the injected last error and reports a needed length of zero.
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS information_class,
                         LPVOID information, DWORD length, PDWORD return_length);

// A new impersonation token with a copy of the state at the given level.
BOOL DuplicateToken(HANDLE existing, SECURITY_IMPERSONATION_LEVEL level, PHANDLE duplicate);

// Member when the SID is the token's user or an enabled group that is not deny-only, and, for
// a restricted token (not a write-restricted one), also one of its restricting SIDs. A null
// token means the calling process's own; a primary token fails with
// ERROR_NO_IMPERSONATION_TOKEN, as on Windows.
BOOL CheckTokenMembership(HANDLE token, PSID sid, BOOL* is_member);
