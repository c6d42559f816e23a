#pragma once
// The console windows that process creation opens. A console process started with a console of
// its own (CREATE_NEW_CONSOLE) gets a window on the desktop; whether the user sees it depends on
// the startup information alone, so the machine records each one for tests to read.

#include <winsim/process.h>

#include <sys/types.h>

#include <string_view>

namespace winsim {

// True when the launch gives the child a new console. Windows ignores CREATE_NO_WINDOW together
// with CREATE_NEW_CONSOLE ("Process Creation Flags"), so such a console has a window as well.
bool opens_console_window(DWORD creation_flags);

// Whether the new console's window is shown: hidden only when STARTF_USESHOWWINDOW asks for
// SW_HIDE; without STARTF_USESHOWWINDOW the window opens as SW_SHOWDEFAULT does.
bool console_window_shown(const STARTUPINFOW& startup);

// Appends the window of process `pid` to the machine's record (consoles.json). A record that
// cannot be written is lost: the launch itself does not depend on it.
void record_console_window(pid_t pid, std::u16string_view command_line,
                           const STARTUPINFOW& startup);

}  // namespace winsim
