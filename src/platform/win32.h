#pragma once
// The one place where Win32 declarations enter the program: the real SDK on Windows, the
// simulated host (sim/include) everywhere else. No other file includes a platform header.

#ifdef _WIN32
// windows.h first: the other SDK headers rely on what it declares.
#include <windows.h>

#include <aclapi.h>
#include <bcrypt.h>
#include <lm.h>
#include <sddl.h>
#include <shellapi.h>
#include <userenv.h>
// Data protection, COM and the firewall objects.
#include <dpapi.h>
#include <netfw.h>
#include <objbase.h>
#include <oleauto.h>
// Text literals handed to Windows: WCHAR is wchar_t here.
#define WIDE(text) L##text
#else
#include <winsim/win32.h>
// Text literals handed to Windows: WCHAR is char16_t in the simulated host.
#define WIDE(text) u##text
#endif
