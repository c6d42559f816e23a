#include "windows/setup/profile_initialization.h"

#include <algorithm>
#include <cstdint>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/windows_path.h"
#include "windows/process/hidden_console.h"
#include "windows/security/command_line_quoting.h"
#include "windows/security/os_failure.h"
#include "windows/setup/system_command.h"

namespace quarvel {
namespace {

constexpr std::string_view kCode = "profile_initialization_failed";
constexpr std::string_view kMessage = "Windows could not finish command protection setup.";
constexpr UINT kForcedEndCode = 125;

Failure setup_unfinished() {
    return fixed_failure(kCode, kMessage, exit_code::internal);
}

DWORD wait_milliseconds(std::chrono::milliseconds limit) {
    // INFINITE (all bits set) would wait forever; a limit is a limit.
    constexpr std::int64_t kLongest = INFINITE - 1;
    return static_cast<DWORD>(std::clamp<std::int64_t>(limit.count(), 0, kLongest));
}

// The process handle; the thread handle is closed at once, nothing here needs it.
Result<UniqueHandle> start_as_account(std::string_view account, std::string_view password,
                                      const WideString& command, WideString& command_line,
                                      const WideString& folder) {
    const WideString wide_account = to_wide(account);
    const WideString local_computer = to_wide(".");
    const WideString wide_password = to_wide(password);
    STARTUPINFOW startup = hidden_console_startup();
    PROCESS_INFORMATION created{};
    if (!CreateProcessWithLogonW(wide_account.c_str(), local_computer.c_str(),
                                 wide_password.c_str(), LOGON_WITH_PROFILE, command.c_str(),
                                 command_line.data(), CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT,
                                 nullptr, folder.c_str(), &startup, &created))
        return std::unexpected(os_failure(kCode, kMessage));
    // Both are owned at once so that neither leaks when the other is missing.
    UniqueHandle process(created.hProcess);
    UniqueHandle thread(created.hThread);
    if (!process || !thread)
        return std::unexpected(os_failure(kCode, kMessage));
    return process;
}

Result<void> wait_for_command(HANDLE process, const ProfileCommandLimits& limits) {
    const DWORD waited = WaitForSingleObject(process, wait_milliseconds(limits.run));
    if (waited == WAIT_TIMEOUT) {
        // The outcome is already decided; ending it and waiting are best effort.
        TerminateProcess(process, kForcedEndCode);
        WaitForSingleObject(process, wait_milliseconds(limits.after_termination));
        return std::unexpected(setup_unfinished());
    }
    if (waited != WAIT_OBJECT_0)
        return std::unexpected(os_failure(kCode, kMessage));
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(process, &exit_code))
        return std::unexpected(os_failure(kCode, kMessage));
    if (exit_code != 0)
        return std::unexpected(setup_unfinished());
    return {};
}

}  // namespace

Result<void> initialize_profile(std::string_view account, std::string_view password,
                                const ProfileCommandLimits& limits) {
    auto command = system_command_path();
    if (!command)
        return std::unexpected(std::move(command.error()));
    auto command_line = build_command_line({narrow_lossy(*command), "/d", "/c", "exit", "0"});
    if (!command_line)
        return std::unexpected(std::move(command_line.error()));
    // The folder that holds the command; an empty parent would only stand for the current
    // directory, which is not where the command is known to be.
    const auto folder = parent_directory(*command);
    if (!folder || folder->empty())
        return std::unexpected(setup_unfinished());
    auto process = start_as_account(account, password, *command, *command_line, *folder);
    if (!process)
        return std::unexpected(std::move(process.error()));
    return wait_for_command(process->get(), limits);
}

}  // namespace quarvel
