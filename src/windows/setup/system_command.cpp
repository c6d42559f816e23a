#include "windows/setup/system_command.h"

#include "platform/file_attributes.h"
#include "platform/windows_path.h"
#include "windows/security/os_failure.h"

namespace quarvel {
namespace {

constexpr std::string_view kCode = "system_command_unavailable";
constexpr std::string_view kMessage = "Windows system command is unavailable.";

Result<WideString> system_directory() {
    WideString directory(MAX_PATH, WCHAR{0});
    for (;;) {
        const UINT length =
            GetSystemDirectoryW(directory.data(), static_cast<UINT>(directory.size()));
        if (length == 0)
            return std::unexpected(os_failure(kCode, kMessage));
        if (length < directory.size()) {
            directory.resize(length);
            return directory;
        }
        // Too small: Windows answered with the size it needs, terminating zero included.
        directory.assign(static_cast<std::size_t>(length) + 1, WCHAR{0});
    }
}

}  // namespace

Result<WideString> system_command_path() {
    auto path = system_directory();
    if (!path)
        return path;
    WideString command = join_path(*path, to_wide("cmd.exe"));
    // A link counts as what it leads to: a dangling one is no command.
    const auto attributes = attributes_following_links(command);
    if (!attributes || (*attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return std::unexpected(fixed_failure(kCode, kMessage, exit_code::internal));
    return command;
}

}  // namespace quarvel
