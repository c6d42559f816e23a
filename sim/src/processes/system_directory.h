#pragma once
// The Windows folder of the simulated machine: where it is (C:\Windows unless a test moved
// it), its System32 folder with the cmd.exe stand-in, and the Windows form of host paths.

#include <string>
#include <string_view>

namespace winsim {

std::u16string windows_directory();

// The System32 folder, with cmd.exe installed the first time it is asked for after the
// Windows folder was placed (a test that removes cmd.exe afterwards keeps it removed). Empty,
// with the machine lock's error as the last error, when the machine's state cannot be read.
std::u16string system_directory();

// Moves the Windows folder; the next system_directory() installs cmd.exe there.
void move_windows_directory(std::u16string_view windows_path);

// The Windows path of a host path: inside a drive folder of the machine that drive, anywhere
// else Z: and the host path, as under Wine.
std::u16string windows_path_of_host(const std::string& host_path);

}  // namespace winsim
