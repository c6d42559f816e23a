#pragma once
// Startup information for a child started through CreateProcessWithLogonW. Windows gives such a
// child a console of its own whatever the creation flags say (CREATE_NEW_CONSOLE is always on
// and CREATE_NO_WINDOW is ignored with it), and that console's window would stand on the user's
// desktop for as long as the child lives. Asking for SW_HIDE keeps it out of sight; every other
// member stays zero, so the child gets no title, desktop or standard handles from here.

#include "platform/win32.h"

namespace quarvel {

inline STARTUPINFOW hidden_console_startup() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    return startup;
}

}  // namespace quarvel
