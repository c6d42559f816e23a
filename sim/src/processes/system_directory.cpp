#include "processes/system_directory.h"

#include <sys/stat.h>
#include <filesystem>
#include <fstream>

#include "files/file_paths.h"
#include "machine/machine.h"
#include "machine/wtf8.h"

namespace winsim {
namespace {

constexpr std::string_view kDocument = "system.json";
constexpr std::string_view kDefaultWindowsDirectory = "C:\\Windows";

// What the program asks of cmd.exe is "/d /c exit N"; anything else is a mistake the stand-in
// reports. Exit codes beyond 255 are not needed and would not survive a POSIX exit status.
constexpr std::string_view kCommandScript = R"script(#!/bin/sh
# cmd.exe of the simulated machine: understands "/d /c exit N" (N from 0 to 255) and nothing else.
lower() { printf '%s' "$1" | tr 'A-Z' 'a-z'; }
if [ "$#" -eq 4 ] && [ "$(lower "$1")" = /d ] && [ "$(lower "$2")" = /c ] &&
    [ "$(lower "$3")" = exit ]; then
    case "$4" in
    [0-9] | [1-9][0-9] | 1[0-9][0-9] | 2[0-4][0-9] | 25[0-5]) exit "$4" ;;
    esac
fi
echo "cmd.exe of the simulated machine understands only: /d /c exit N (0 to 255)" >&2
exit 1
)script";

void install_command(const std::u16string& system32) {
    const auto host = host_path_for(system32);
    if (!host)
        return;
    std::error_code ignored;
    std::filesystem::create_directories(*host, ignored);
    const std::string command = *host + "/cmd.exe";
    std::ofstream(command, std::ios::trunc) << kCommandScript;
    ::chmod(command.c_str(), 0755);
}

std::string canonical(const std::string& path) {
    std::error_code ignored;
    const auto resolved = std::filesystem::weakly_canonical(path, ignored);
    return resolved.empty() ? path : resolved.string();
}

}  // namespace

std::u16string windows_directory() {
    const auto state = read_machine_state(kDocument);
    return utf16_from_wtf8(state.value("windows_directory", std::string(kDefaultWindowsDirectory)));
}

std::u16string system_directory() {
    std::u16string system32;
    const DWORD locked = update_machine_state(kDocument, [&](nlohmann::json& state) {
        const std::string windows =
            state.value("windows_directory", std::string(kDefaultWindowsDirectory));
        system32 = utf16_from_wtf8(windows + "\\System32");
        if (state.value("installed", false))
            return false;
        install_command(system32);
        state["windows_directory"] = windows;
        state["installed"] = true;
        return true;
    });
    if (locked != ERROR_SUCCESS)
        return {};
    return system32;
}

void move_windows_directory(std::u16string_view windows_path) {
    (void)update_machine_state(kDocument, [&](nlohmann::json& state) {
        state["windows_directory"] = wtf8_from_utf16(windows_path);
        state["installed"] = false;
        return true;
    });
}

std::u16string windows_path_of_host(const std::string& host_path) {
    const std::string path = canonical(host_path);
    const std::string machine = canonical(machine_directory());
    std::string windows = "Z:" + path;
    if (path.size() >= machine.size() + 2 && path.starts_with(machine + "/")) {
        const char letter = path[machine.size() + 1];
        const bool drive_folder =
            letter >= 'A' && letter <= 'Z' &&
            (path.size() == machine.size() + 2 || path[machine.size() + 2] == '/');
        if (drive_folder) {
            windows = std::string(1, letter) + ":" + path.substr(machine.size() + 2);
            if (windows.size() == 2)
                windows += "\\";
        }
    }
    for (char& c : windows)
        if (c == '/')
            c = '\\';
    return utf16_from_wtf8(windows);
}

}  // namespace winsim
