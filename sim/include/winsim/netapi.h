#pragma once
// netapi32's local group and account management, on the local computer only (server name
// null; any other fails with NERR_InvalidComputer). Every call returns its NET_API_STATUS; a
// caller that is not an elevated administrator (Administrators enabled in its token) or
// LocalSystem gets ERROR_ACCESS_DENIED and changes nothing. Nothing is allocated for the
// caller, so no NetApiBufferFree is needed.

#include <winsim/types.h>

#define NERR_Success 0u
#define NERR_BASE 2100
#define NERR_InvalidComputer (NERR_BASE + 251)
#define NERR_BadUsername (NERR_BASE + 102)
#define NERR_GroupNotFound (NERR_BASE + 120)
#define NERR_UserNotFound (NERR_BASE + 121)
#define NERR_GroupExists (NERR_BASE + 123)
#define NERR_UserExists (NERR_BASE + 124)

#define USER_PRIV_GUEST 0u
#define USER_PRIV_USER 1u
#define USER_PRIV_ADMIN 2u

#define UF_SCRIPT 0x0001u
#define UF_ACCOUNTDISABLE 0x0002u
#define UF_LOCKOUT 0x0010u
#define UF_PASSWD_NOTREQD 0x0020u
#define UF_PASSWD_CANT_CHANGE 0x0040u
#define UF_TEMP_DUPLICATE_ACCOUNT 0x0100u
#define UF_NORMAL_ACCOUNT 0x0200u
#define UF_INTERDOMAIN_TRUST_ACCOUNT 0x0800u
#define UF_WORKSTATION_TRUST_ACCOUNT 0x1000u
#define UF_SERVER_TRUST_ACCOUNT 0x2000u
#define UF_DONT_EXPIRE_PASSWD 0x10000u
#define UF_ACCOUNT_TYPE_MASK                                                        \
    (UF_TEMP_DUPLICATE_ACCOUNT | UF_NORMAL_ACCOUNT | UF_INTERDOMAIN_TRUST_ACCOUNT | \
     UF_WORKSTATION_TRUST_ACCOUNT | UF_SERVER_TRUST_ACCOUNT)

#define PARM_ERROR_NONE 0u
#define LOCALGROUP_NAME_PARMNUM 1u
#define USER_NAME_PARMNUM 1u
#define USER_PRIV_PARMNUM 5u
#define USER_FLAGS_PARMNUM 8u

struct LOCALGROUP_INFO_1 {
    LPWSTR lgrpi1_name;
    LPWSTR lgrpi1_comment;
};

struct USER_INFO_1 {
    LPWSTR usri1_name;
    LPWSTR usri1_password;
    DWORD usri1_password_age;
    DWORD usri1_priv;
    LPWSTR usri1_home_dir;
    LPWSTR usri1_comment;
    DWORD usri1_flags;
    LPWSTR usri1_script_path;
};

struct USER_INFO_1003 {
    LPWSTR usri1003_password;
};

struct USER_INFO_1008 {
    DWORD usri1008_flags;
};

struct LOCALGROUP_MEMBERS_INFO_3 {
    LPWSTR lgrmi3_domainandname;
};

// Level 1 only (others: ERROR_INVALID_LEVEL). A name already used by a local group:
// ERROR_ALIAS_EXISTS, by an account: NERR_UserExists; the existing group is left as it was.
// A name that is empty, longer than 256 characters, ends in a period or holds a character
// account names may not hold: ERROR_INVALID_PARAMETER with LOCALGROUP_NAME_PARMNUM.
NET_API_STATUS NetLocalGroupAdd(LPCWSTR server_name, DWORD level, LPBYTE buffer,
                                LPDWORD parameter_error);

// Level 1 only; usri1_priv must be USER_PRIV_USER (ERROR_INVALID_PARAMETER with
// USER_PRIV_PARMNUM otherwise). The other USER_INFO_1 fields are kept on the account. Flags
// without an account type make a normal account (UF_NORMAL_ACCOUNT is kept with them); any
// other account type gives ERROR_INVALID_PARAMETER with USER_FLAGS_PARMNUM; UF_LOCKOUT locks
// nothing. A name already used by an account: NERR_UserExists, by a local group:
// NERR_GroupExists; a name that is empty, longer than 20 characters, ends in a period or holds a
// forbidden character: NERR_BadUsername.
NET_API_STATUS NetUserAdd(LPCWSTR server_name, DWORD level, LPBYTE buffer, LPDWORD parameter_error);

// Level 1003: the password changes, nothing else. Level 1008: the account's flags become the
// given ones, except that UF_LOCKOUT can only be cleared (which unlocks the account) and the
// account type stays: flags without a type keep it, the account's own type is accepted, any
// other type or more than one gives ERROR_INVALID_PARAMETER with USER_FLAGS_PARMNUM. Other
// levels: ERROR_INVALID_LEVEL. Unknown account: NERR_UserNotFound.
NET_API_STATUS NetUserSetInfo(LPCWSTR server_name, LPCWSTR user_name, DWORD level, LPBYTE buffer,
                              LPDWORD parameter_error);

// Level 3 only: "name" or "DOMAIN\name" per entry, resolved as LookupAccountNameW does. All or
// nothing: an unknown local group gives NERR_GroupNotFound, an unknown member
// ERROR_NO_SUCH_MEMBER, a local group as member ERROR_INVALID_MEMBER, a member already there
// ERROR_MEMBER_IN_ALIAS, and then no member is added.
NET_API_STATUS NetLocalGroupAddMembers(LPCWSTR server_name, LPCWSTR group_name, DWORD level,
                                       LPBYTE buffer, DWORD total_entries);
