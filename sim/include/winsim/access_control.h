#pragma once
// Building access control lists from explicit entries (aclapi) and absolute security
// descriptors that carry them.

#include <winsim/security.h>
#include <winsim/security_descriptor.h>

enum ACCESS_MODE {
    NOT_USED_ACCESS = 0,
    GRANT_ACCESS,
    SET_ACCESS,
    DENY_ACCESS,
    REVOKE_ACCESS,
    SET_AUDIT_SUCCESS,
    SET_AUDIT_FAILURE,
};

enum MULTIPLE_TRUSTEE_OPERATION {
    NO_MULTIPLE_TRUSTEE,
    TRUSTEE_IS_IMPERSONATE,
};

enum TRUSTEE_FORM {
    TRUSTEE_IS_SID,
    TRUSTEE_IS_NAME,
    TRUSTEE_BAD_FORM,
    TRUSTEE_IS_OBJECTS_AND_SID,
    TRUSTEE_IS_OBJECTS_AND_NAME,
};

enum TRUSTEE_TYPE {
    TRUSTEE_IS_UNKNOWN,
    TRUSTEE_IS_USER,
    TRUSTEE_IS_GROUP,
    TRUSTEE_IS_DOMAIN,
    TRUSTEE_IS_ALIAS,
    TRUSTEE_IS_WELL_KNOWN_GROUP,
    TRUSTEE_IS_DELETED,
    TRUSTEE_IS_INVALID,
    TRUSTEE_IS_COMPUTER,
};

struct TRUSTEE_W {
    TRUSTEE_W* pMultipleTrustee;
    MULTIPLE_TRUSTEE_OPERATION MultipleTrusteeOperation;
    TRUSTEE_FORM TrusteeForm;
    TRUSTEE_TYPE TrusteeType;
    LPWSTR ptstrName;
};
using PTRUSTEE_W = TRUSTEE_W*;

struct EXPLICIT_ACCESS_W {
    DWORD grfAccessPermissions;
    ACCESS_MODE grfAccessMode;
    DWORD grfInheritance;
    TRUSTEE_W Trustee;
};
using PEXPLICIT_ACCESS_W = EXPLICIT_ACCESS_W*;
static_assert(sizeof(TRUSTEE_W) == 32);
static_assert(sizeof(EXPLICIT_ACCESS_W) == 48);

#define NO_INHERITANCE 0x0
#define SUB_OBJECTS_ONLY_INHERIT 0x1
#define SUB_CONTAINERS_ONLY_INHERIT 0x2
#define SUB_CONTAINERS_AND_OBJECTS_INHERIT 0x3
#define INHERIT_NO_PROPAGATE 0x4
#define INHERIT_ONLY 0x8

// A new ACL (one LocalAlloc block) made of the old ACL's entries merged with the explicit
// ones. Trustees are given by SID only (TRUSTEE_IS_SID). The result is ordered as Windows
// orders a merge: new denied entries, old explicit denied entries, new allowed entries, old
// explicit allowed entries, then the old inherited entries. GRANT_ACCESS folds the trustee's
// old allowed entry with the same inheritance into the new one; SET_ACCESS and REVOKE_ACCESS
// drop the trustee's old explicit entries; DENY_ACCESS adds a denied entry. Returns
// ERROR_SUCCESS, or ERROR_INVALID_PARAMETER (a trustee form other than a SID, an audit mode),
// ERROR_INVALID_SID, ERROR_INVALID_ACL (a malformed old ACL). Fault injection: the injected
// value is returned.
DWORD SetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL old_acl, PACL* new_acl);

// Revision SECURITY_DESCRIPTOR_REVISION only (else ERROR_UNKNOWN_REVISION).
BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision);
// Absolute descriptors only (a self-relative one fails with ERROR_INVALID_SECURITY_DESCR).
BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl,
                               BOOL defaulted);
