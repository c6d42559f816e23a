#pragma once
// user32 window stations and desktops. Every simulated process runs in the window station
// named by WINSIM_WINDOW_STATION (WTF-8; "WinSta0" when unset, as for an interactive logon).
// Desktops are recorded in the machine state with their owner and DACL while their creator's
// handle is open; each window station also has the Default desktop of the interactive logon
// session (SYSTEM and that session's logon SID, all rights). Opening a desktop is checked
// against its DACL with the caller's token (restricted tokens included) and the desktop type's
// generic mapping; a handle keeps the rights it was granted.

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
#define DF_ALLOWOTHERACCOUNTHOOK 0x0001u

// The process's window station; it belongs to the process and is never closed. Fault
// injection: null with the injected last error.
HWINSTA GetProcessWindowStation();

// UOI_NAME of a window station (from GetProcessWindowStation) or of a desktop: the name with
// its terminating zero; `needed` receives the length in bytes. A buffer too small fails with
// ERROR_INSUFFICIENT_BUFFER. Fault injection: the injected error with `needed` set to 0.
BOOL GetUserObjectInformationW(HANDLE object, int index, PVOID information, DWORD length,
                               LPDWORD needed);

// A desktop of the process's window station, with the DACL of the security attributes (an
// absolute or self-relative descriptor) and their owner, else the creator's default owner. A
// name with a backslash fails with ERROR_INVALID_PARAMETER, a malformed descriptor with
// ERROR_INVALID_SECURITY_DESCR. The handle has the access asked for (generic rights mapped) and
// counts among the process's open handles until CloseDesktop.
HDESK CreateDesktopW(LPCWSTR name, LPCWSTR device, LPDEVMODEW mode, DWORD flags,
                     DWORD desired_access, LPSECURITY_ATTRIBUTES attributes);
// The connection's handle (GetThreadDesktop) cannot be closed: FALSE with ERROR_BUSY.
BOOL CloseDesktop(HDESK desktop);

// A desktop of the process's window station by name (without regard to ASCII letter case):
// ERROR_FILE_NOT_FOUND when there is none, ERROR_ACCESS_DENIED when the DACL refuses any right
// asked for; MAXIMUM_ALLOWED gives what the DACL grants (refused when that is nothing). Flags other
// than DF_ALLOWOTHERACCOUNTHOOK give ERROR_INVALID_PARAMETER; the inherit flag is ignored.
HDESK OpenDesktopW(LPCWSTR name, DWORD flags, BOOL inherit, DWORD desired_access);

// The desktop the process is connected to: the lpDesktop it was created with, else its window
// station's Default, opened at the first call with MAXIMUM_ALLOWED. Every thread of the process
// shares it; the handle is never closed. A thread id of another process gives
// ERROR_INVALID_PARAMETER; a desktop that does not exist ERROR_FILE_NOT_FOUND; one whose DACL
// grants the process nothing ERROR_ACCESS_DENIED.
HDESK GetThreadDesktop(DWORD thread_id);

// Makes the desktop the input desktop of the interactive window station. Needs
// DESKTOP_SWITCHDESKTOP in the handle's rights and a desktop of WinSta0, else
// ERROR_ACCESS_DENIED; a handle that is no desktop ERROR_INVALID_HANDLE.
BOOL SwitchDesktop(HDESK desktop);
