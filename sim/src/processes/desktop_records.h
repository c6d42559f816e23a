#pragma once
// The desktops of the machine's window stations as the desktop calls find them: those that
// CreateDesktopW made, kept in the machine state ("desktops.json") while their creator's handle
// is open, and the Default desktop that Windows gives the interactive logon session.

#include <winsim/desktop.h>
#include <winsim/security.h>

#include <optional>
#include <string>
#include <string_view>

#include "security/security_descriptor.h"

namespace winsim {

// The desktop type's generic mapping ("Desktop Security and Access Rights").
inline constexpr GenericMapping kDesktopGenericMapping{
    DESKTOP_ENUMERATE | DESKTOP_READOBJECTS | STANDARD_RIGHTS_READ,
    DESKTOP_CREATEMENU | DESKTOP_CREATEWINDOW | DESKTOP_HOOKCONTROL | DESKTOP_JOURNALPLAYBACK |
        DESKTOP_JOURNALRECORD | DESKTOP_WRITEOBJECTS | STANDARD_RIGHTS_WRITE,
    DESKTOP_SWITCHDESKTOP | STANDARD_RIGHTS_EXECUTE, 0x01FF | STANDARD_RIGHTS_REQUIRED};

// This process's window station: WINSIM_WINDOW_STATION (WTF-8), "WinSta0" when unset.
std::u16string window_station_name();

// Whether that window station shows on the screen (only the interactive one, WinSta0).
bool is_visible_window_station(std::u16string_view station);

struct DesktopRecord {
    std::string key;      // "<station>\<name>" in WTF-8, as created; empty for Default
    std::u16string name;  // as created
    SecurityDescription security;
};

// The machine-state key of a desktop of `station`.
std::string desktop_key(std::u16string_view station, std::u16string_view name);

// Records a desktop this process created. ERROR_SUCCESS or the machine lock's error.
DWORD record_desktop(const std::string& key, const SecurityDescription& security);
// Its creator's last handle closed. A close cannot report a failure: the record then stays.
void forget_desktop(const std::string& key);

// The desktop `name` of `station`, compared without regard to ASCII letter case.
std::optional<DesktopRecord> find_desktop(std::u16string_view station, std::u16string_view name);

// The station and desktop a process connects to: the lpDesktop it was created with
// ("station\desktop", or a desktop of this process's station), else its station's Default.
struct DesktopPath {
    std::u16string station;
    std::u16string desktop;
};
DesktopPath process_desktop_path();

}  // namespace winsim
