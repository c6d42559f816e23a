#pragma once
// aclapi's named security calls for files and directories: reading and writing an object's
// security descriptor by path, with Windows' automatic inheritance.

#include <winsim/access_control.h>

enum SE_OBJECT_TYPE {
    SE_UNKNOWN_OBJECT_TYPE = 0,
    SE_FILE_OBJECT,
    SE_SERVICE,
    SE_PRINTER,
    SE_REGISTRY_KEY,
    SE_LMSHARE,
    SE_KERNEL_OBJECT,
    SE_WINDOW_OBJECT,
};

using SECURITY_INFORMATION = DWORD;
using PSECURITY_INFORMATION = DWORD*;
#define OWNER_SECURITY_INFORMATION 0x00000001u
#define GROUP_SECURITY_INFORMATION 0x00000002u
#define DACL_SECURITY_INFORMATION 0x00000004u
#define SACL_SECURITY_INFORMATION 0x00000008u
#define UNPROTECTED_SACL_SECURITY_INFORMATION 0x10000000u
#define UNPROTECTED_DACL_SECURITY_INFORMATION 0x20000000u
#define PROTECTED_SACL_SECURITY_INFORMATION 0x40000000u
#define PROTECTED_DACL_SECURITY_INFORMATION 0x80000000u

#define ERROR_INVALID_OWNER 1307L

// SE_FILE_OBJECT only (others ERROR_INVALID_PARAMETER). Returns a Windows error code, not a
// last error: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED
// (the object grants no READ_CONTROL and the caller is not its owner), ERROR_INVALID_PARAMETER
// (no descriptor pointer), ERROR_PRIVILEGE_NOT_HELD (a SACL). The descriptor is one
// self-relative LocalAlloc block holding the parts asked for; the owner and DACL pointers point
// into it (null when it has none). The simulated host keeps no primary group: a group pointer
// is always null. A link is followed.
DWORD GetNamedSecurityInfoW(LPCWSTR object_name, SE_OBJECT_TYPE object_type,
                            SECURITY_INFORMATION information, PSID* owner, PSID* group, PACL* dacl,
                            PACL* sacl, PSECURITY_DESCRIPTOR* descriptor);

// Sets the owner (WRITE_OWNER; the SID must be the caller's user or an owner group of its
// token, else ERROR_INVALID_OWNER) and/or the DACL (WRITE_DAC, or ownership) of a file or
// directory, following a link. The DACL's entries marked inherited are dropped and the
// parent's inheritable entries inherited anew, unless the DACL is or becomes protected
// (PROTECTED_DACL_SECURITY_INFORMATION; UNPROTECTED_ lifts it). A new DACL is then propagated
// to every existing descendant (inherited entries replaced, explicit ones kept, protected
// descendants and their subtrees left alone, links not descended into). Errors as
// GetNamedSecurityInfoW's, and ERROR_INVALID_ACL for a malformed DACL.
DWORD SetNamedSecurityInfoW(LPWSTR object_name, SE_OBJECT_TYPE object_type,
                            SECURITY_INFORMATION information, PSID owner, PSID group, PACL dacl,
                            PACL sacl);
