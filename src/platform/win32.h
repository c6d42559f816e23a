#pragma once
// The one place where Win32 declarations enter the program: the real SDK on Windows, the
// simulated host (sim/include) everywhere else. No other file includes a platform header.

#ifdef _WIN32
// Sockets before windows.h, whose older socket declarations would otherwise come first.
#include <winsock2.h>
#include <ws2tcpip.h>
// windows.h next: the other SDK headers rely on what it declares.
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
// What Windows has and the simulated host does not model (see QUARVEL_HAS_* below).
#define QUARVEL_HAS_REGISTRY 1
#define QUARVEL_HAS_SOCKETS 1
#define QUARVEL_HAS_CLIPBOARD 1
#define QUARVEL_HAS_CONSOLE_WINDOW 1
#else
#include <winsim/win32.h>
// Text literals handed to Windows: WCHAR is char16_t in the simulated host.
#define WIDE(text) u##text
// The simulated host has no registry, no sockets, no clipboard and no console windows; code
// that needs them is left out of this lane and says so instead of guessing what they would do.
#define QUARVEL_HAS_REGISTRY 0
#define QUARVEL_HAS_SOCKETS 0
#define QUARVEL_HAS_CLIPBOARD 0
#define QUARVEL_HAS_CONSOLE_WINDOW 0
#endif
