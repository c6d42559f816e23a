#pragma once
// Security descriptors in Windows' binary layouts (absolute and self-relative), the access
// rights of file objects (files, directories and pipes), and the conversion of security
// descriptor strings (SDDL).

#include <winsim/security.h>

using SECURITY_DESCRIPTOR_CONTROL = WORD;
using PSECURITY_DESCRIPTOR = void*;

#define SECURITY_DESCRIPTOR_REVISION 1
#define SE_OWNER_DEFAULTED 0x0001
#define SE_GROUP_DEFAULTED 0x0002
#define SE_DACL_PRESENT 0x0004
#define SE_DACL_DEFAULTED 0x0008
#define SE_SACL_PRESENT 0x0010
#define SE_SACL_DEFAULTED 0x0020
#define SE_DACL_AUTO_INHERIT_REQ 0x0100
#define SE_SACL_AUTO_INHERIT_REQ 0x0200
#define SE_DACL_AUTO_INHERITED 0x0400
#define SE_SACL_AUTO_INHERITED 0x0800
#define SE_DACL_PROTECTED 0x1000
#define SE_SACL_PROTECTED 0x2000
#define SE_SELF_RELATIVE 0x8000

// Absolute form: the parts are pointers to memory that the caller owns.
struct SECURITY_DESCRIPTOR {
    BYTE Revision;
    BYTE Sbz1;
    SECURITY_DESCRIPTOR_CONTROL Control;
    PSID Owner;
    PSID Group;
    PACL Sacl;
    PACL Dacl;
};
using PISECURITY_DESCRIPTOR = SECURITY_DESCRIPTOR*;
static_assert(sizeof(SECURITY_DESCRIPTOR) == 40);

// Self-relative form (SE_SELF_RELATIVE set): the parts follow in the same block and are found
// by their offset from its start; 0 means absent.
struct SECURITY_DESCRIPTOR_RELATIVE {
    BYTE Revision;
    BYTE Sbz1;
    SECURITY_DESCRIPTOR_CONTROL Control;
    DWORD Owner;
    DWORD Group;
    DWORD Sacl;
    DWORD Dacl;
};
using PISECURITY_DESCRIPTOR_RELATIVE = SECURITY_DESCRIPTOR_RELATIVE*;
static_assert(sizeof(SECURITY_DESCRIPTOR_RELATIVE) == 20);

#define SECURITY_DESCRIPTOR_MIN_LENGTH (sizeof(SECURITY_DESCRIPTOR))

#ifndef ERROR_UNKNOWN_REVISION
#define ERROR_UNKNOWN_REVISION 1305L
#endif
#ifndef ERROR_INVALID_ACL
#define ERROR_INVALID_ACL 1336L
#endif
#ifndef ERROR_INVALID_SECURITY_DESCR
#define ERROR_INVALID_SECURITY_DESCR 1338L
#endif

// Rights on file objects: files, directories and pipes.
// files.h declares the first three as well.
#ifndef FILE_READ_DATA
#define FILE_READ_DATA 0x0001u
#endif
#ifndef FILE_WRITE_DATA
#define FILE_WRITE_DATA 0x0002u
#endif
#ifndef FILE_APPEND_DATA
#define FILE_APPEND_DATA 0x0004u
#endif
#ifndef FILE_GENERIC_READ
#define FILE_LIST_DIRECTORY 0x0001u
#define FILE_ADD_FILE 0x0002u
#define FILE_ADD_SUBDIRECTORY 0x0004u
#define FILE_CREATE_PIPE_INSTANCE 0x0004u
#define FILE_READ_EA 0x0008u
#define FILE_WRITE_EA 0x0010u
#define FILE_EXECUTE 0x0020u
#define FILE_TRAVERSE 0x0020u
#define FILE_DELETE_CHILD 0x0040u
#define FILE_READ_ATTRIBUTES 0x0080u
#define FILE_WRITE_ATTRIBUTES 0x0100u
#define FILE_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0x1FFu)
#define FILE_GENERIC_READ \
    (STANDARD_RIGHTS_READ | FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_READ_EA | SYNCHRONIZE)
#define FILE_GENERIC_WRITE                                                             \
    (STANDARD_RIGHTS_WRITE | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | \
     FILE_APPEND_DATA | SYNCHRONIZE)
#define FILE_GENERIC_EXECUTE \
    (STANDARD_RIGHTS_EXECUTE | FILE_READ_ATTRIBUTES | FILE_EXECUTE | SYNCHRONIZE)
#endif

// The DACL of a descriptor in either form. `present` is FALSE when the descriptor has none
// (`dacl` is then left alone); a present but null DACL gives a null `dacl`. A descriptor of
// another revision fails with ERROR_UNKNOWN_REVISION.
BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL* present, PACL* dacl,
                               BOOL* defaulted);

#define SDDL_REVISION_1 1

// Converts a security descriptor string into one self-relative descriptor allocated with
// LocalAlloc (release it with LocalFree); `size`, when given, receives its length. Understood:
// the O:, G: and D: components; the DACL flags P, AI and AR; ACE types A and D; the ACE flags
// OI, CI, NP, IO and ID; rights as a 0x number or as two-letter codes (GA, GR, GW, GX, FA, FR,
// FW, FX, KA, KR, KW, KX, RC, SD, WD, WO, CC, DC, LC, SW, RP, WP, DT, LO, CR); SIDs in the
// standard form or as the two-letter aliases of well-known SIDs. Errors: a malformed DACL or
// entry ERROR_INVALID_ACL (as Wine reports it), a malformed owner or group ERROR_INVALID_SID,
// a revision other than 1 ERROR_UNKNOWN_REVISION, anything else (a SACL included)
// ERROR_INVALID_PARAMETER.
BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          PULONG size);
