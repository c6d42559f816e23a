// A deliberately weakened build of the program, for the self-test's own test only.
//
// Linked only into quarvel-sandbox-windows-weakened (ld --wrap, see CMakeLists.txt): the
// worker's CreateRestrictedToken makes its token without WRITE_RESTRICTED and without
// restricting SIDs, and IsTokenRestricted vouches for it anyway, so that the worker goes on
// and starts its command with the account's whole write access. A self-test against this build
// must fail, and name the checks that caught it.

#include "platform/win32.h"

// The simulated host's calls are C++ functions: --wrap needs their mangled names. Should a
// declaration change, the link of the weakened build fails on the __real_ names below.
#define QUARVEL_REAL_CREATE_RESTRICTED_TOKEN \
    __real__Z21CreateRestrictedTokenPvjjP18SID_AND_ATTRIBUTESjP19LUID_AND_ATTRIBUTESjS1_PS_
#define QUARVEL_WRAP_CREATE_RESTRICTED_TOKEN \
    __wrap__Z21CreateRestrictedTokenPvjjP18SID_AND_ATTRIBUTESjP19LUID_AND_ATTRIBUTESjS1_PS_
#define QUARVEL_WRAP_IS_TOKEN_RESTRICTED __wrap__Z17IsTokenRestrictedPv

extern "C" BOOL QUARVEL_REAL_CREATE_RESTRICTED_TOKEN(
    HANDLE token, DWORD flags, DWORD disable_count, PSID_AND_ATTRIBUTES disable, DWORD delete_count,
    LUID_AND_ATTRIBUTES* privileges, DWORD restrict_count, PSID_AND_ATTRIBUTES restricting,
    PHANDLE new_token);

extern "C" BOOL QUARVEL_WRAP_CREATE_RESTRICTED_TOKEN(HANDLE token, DWORD flags, DWORD disable_count,
                                                     PSID_AND_ATTRIBUTES disable,
                                                     DWORD delete_count,
                                                     LUID_AND_ATTRIBUTES* privileges, DWORD,
                                                     PSID_AND_ATTRIBUTES, PHANDLE new_token) {
    return QUARVEL_REAL_CREATE_RESTRICTED_TOKEN(token, flags & ~WRITE_RESTRICTED, disable_count,
                                                disable, delete_count, privileges, 0, nullptr,
                                                new_token);
}

extern "C" BOOL QUARVEL_WRAP_IS_TOKEN_RESTRICTED(HANDLE) {
    return TRUE;
}
