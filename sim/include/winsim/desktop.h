#pragma once
// user32 window stations and desktops. Every simulated process runs in the window station
// named by WINSIM_WINDOW_STATION (WTF-8; "WinSta0" when unset, as for an interactive logon).
// Desktops are recorded in the machine state with their DACL while a handle is open.

#include <winsim/security_attributes.h>
#include <winsim/types.h>

struct HWINSTA__;
using HWINSTA = HWINSTA__*;
struct HDESK__;
using HDESK = HDESK__*;
struct DEVMODEW;
using LPDEVMODEW = DEVMODEW*;

#define UOI_FLAGS 1
#define UOI_NAME 2
#define UOI_TYPE 3

#define DESKTOP_READOBJECTS 0x0001u
#define DESKTOP_CREATEWINDOW 0x0002u
#define DESKTOP_CREATEMENU 0x0004u
#define DESKTOP_HOOKCONTROL 0x0008u
#define DESKTOP_JOURNALRECORD 0x0010u
#define DESKTOP_JOURNALPLAYBACK 0x0020u
#define DESKTOP_ENUMERATE 0x0040u
#define DESKTOP_WRITEOBJECTS 0x0080u
#define DESKTOP_SWITCHDESKTOP 0x0100u

// The process's window station; it belongs to the process and is never closed. Fault
// injection: null with the injected last error.
HWINSTA GetProcessWindowStation();

// UOI_NAME of a window station (from GetProcessWindowStation) or of a desktop: the name with
// its terminating zero; `needed` receives the length in bytes. A buffer too small fails with
// ERROR_INSUFFICIENT_BUFFER. Fault injection: the injected error with `needed` set to 0.
BOOL GetUserObjectInformationW(HANDLE object, int index, PVOID information, DWORD length,
                               LPDWORD needed);

// A desktop of the process's window station, with the DACL of the security attributes (an
// absolute or self-relative descriptor). A name with a backslash fails with
// ERROR_INVALID_PARAMETER, a malformed descriptor with ERROR_INVALID_SECURITY_DESCR. The
// handle counts among the process's open handles until CloseDesktop.
HDESK CreateDesktopW(LPCWSTR name, LPCWSTR device, LPDEVMODEW mode, DWORD flags,
                     DWORD desired_access, LPSECURITY_ATTRIBUTES attributes);
BOOL CloseDesktop(HDESK desktop);
