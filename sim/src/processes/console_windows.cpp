#include "processes/console_windows.h"

#include <winsim/testing.h>

#include "machine/machine.h"
#include "machine/wtf8.h"

namespace winsim {

bool opens_console_window(DWORD creation_flags) {
    return (creation_flags & CREATE_NEW_CONSOLE) != 0;
}

bool console_window_shown(const STARTUPINFOW& startup) {
    if ((startup.dwFlags & STARTF_USESHOWWINDOW) == 0)
        return true;
    return startup.wShowWindow != SW_HIDE;
}

void record_console_window(pid_t pid, std::u16string_view command_line,
                           const STARTUPINFOW& startup) {
    const bool uses_show_window = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0;
    nlohmann::json window{{"process_id", pid},
                          {"command_line", wtf8_from_utf16(command_line)},
                          {"shown", console_window_shown(startup)},
                          {"show_window", uses_show_window ? startup.wShowWindow : SW_SHOWDEFAULT}};
    (void)update_machine_state("consoles.json", [&](nlohmann::json& state) {
        state["windows"].push_back(window);
        return true;
    });
}

std::string console_windows_json() {
    const auto state = read_machine_state("consoles.json");
    return state.contains("windows") ? state.at("windows").dump() : "[]";
}

}  // namespace winsim
