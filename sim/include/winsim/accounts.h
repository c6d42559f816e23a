#pragma once
// advapi32 account lookups and sign-in: names and SIDs of the machine's accounts, groups and
// well-known identities, LogonUserW and CreateProcessWithLogonW.

#include <winsim/process.h>
#include <winsim/security.h>
#include <winsim/types.h>

enum SID_NAME_USE {
    SidTypeUser = 1,
    SidTypeGroup,
    SidTypeDomain,
    SidTypeAlias,
    SidTypeWellKnownGroup,
    SidTypeDeletedAccount,
    SidTypeInvalid,
    SidTypeUnknown,
    SidTypeComputer,
    SidTypeLabel,
    SidTypeLogonSession,
};
using PSID_NAME_USE = SID_NAME_USE*;

#define ERROR_INVALID_LEVEL 124L
#define ERROR_NO_LOGON_SERVERS 1311L
#define ERROR_ACCOUNT_RESTRICTION 1327L
#define ERROR_ACCOUNT_DISABLED 1331L
#define ERROR_NO_SUCH_ALIAS 1376L
#define ERROR_MEMBER_IN_ALIAS 1378L
#define ERROR_ALIAS_EXISTS 1379L
#define ERROR_LOGON_TYPE_NOT_GRANTED 1385L
#define ERROR_NO_SUCH_MEMBER 1387L
#define ERROR_INVALID_MEMBER 1388L
#define ERROR_ACCOUNT_LOCKED_OUT 1909L

// The local system only (a system name other than null fails with ERROR_INVALID_PARAMETER).
// Names: "name" or "DOMAIN\name" with the machine's name, BUILTIN or NT AUTHORITY as the
// domain, compared without regard to ASCII case; the domain names alone name the domains.
// Size protocol: when either buffer is missing or too small the call fails with
// ERROR_INSUFFICIENT_BUFFER and reports both sizes (SID bytes; domain in WCHARs with the
// terminating zero); on success the sizes are the SID's length and the domain's length without
// the zero. A name that maps to nothing: ERROR_NONE_MAPPED.
BOOL LookupAccountNameW(LPCWSTR system_name, LPCWSTR account_name, PSID sid, LPDWORD sid_size,
                        LPWSTR domain, LPDWORD domain_size, PSID_NAME_USE use);

// The same protocol for name and domain (WCHARs, the zero counted when the call fails for size,
// not counted on success). A valid SID that maps to nothing: ERROR_NONE_MAPPED; an invalid one:
// ERROR_INVALID_SID.
BOOL LookupAccountSidW(LPCWSTR system_name, PSID sid, LPWSTR name, LPDWORD name_size, LPWSTR domain,
                       LPDWORD domain_size, PSID_NAME_USE use);

#define LOGON32_LOGON_INTERACTIVE 2u
#define LOGON32_LOGON_NETWORK 3u
#define LOGON32_LOGON_BATCH 4u
#define LOGON32_LOGON_SERVICE 5u
#define LOGON32_PROVIDER_DEFAULT 0u
#define LOGON32_PROVIDER_WINNT50 3u

// An interactive sign-in to a local account (domain "." or the machine's name; null or another
// domain is not simulated and fails with ERROR_LOGON_FAILURE). Unknown account or wrong
// password: ERROR_LOGON_FAILURE; empty password: ERROR_ACCOUNT_RESTRICTION; disabled account:
// ERROR_ACCOUNT_DISABLED; locked out: ERROR_ACCOUNT_LOCKED_OUT; no interactive sign-in right,
// or the deny right: ERROR_LOGON_TYPE_NOT_GRANTED. The token is a new primary token of a fresh
// logon session; an administrator other than the built-in one gets the filtered token (User Account
// Control). Logon types other than interactive fail with ERROR_INVALID_PARAMETER.
BOOL LogonUserW(LPCWSTR user_name, LPCWSTR domain, LPCWSTR password, DWORD logon_type,
                DWORD logon_provider, PHANDLE token);

#define LOGON_WITH_PROFILE 0x00000001u
#define LOGON_NETCREDENTIALS_ONLY 0x00000002u

// Signs in as LogonUserW does and starts the program as that sign-in. The child does not join
// the caller's jobs; it inherits no handles; without STARTF_USESTDHANDLES its standard handles
// lead nowhere (it has a console of its own); without an environment block it gets one made
// from the account's profile. LOGON_WITH_PROFILE creates the account's profile folder under
// C:\Users on first use. Logon flags other than 0 and LOGON_WITH_PROFILE fail with
// ERROR_INVALID_PARAMETER.
BOOL CreateProcessWithLogonW(LPCWSTR user_name, LPCWSTR domain, LPCWSTR password, DWORD logon_flags,
                             LPCWSTR application_name, LPWSTR command_line, DWORD creation_flags,
                             LPVOID environment, LPCWSTR current_directory,
                             LPSTARTUPINFOW startup_info,
                             LPPROCESS_INFORMATION process_information);
