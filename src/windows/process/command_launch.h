#pragma once
// Turning a validated request into a running, confined command, and waiting for its end.

#include <string>
#include <string_view>
#include <vector>

#include "cli/failure.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "windows/process/launched_command.h"

namespace quarvel {

struct CommandSpec {
    std::vector<std::string> arguments;  // the program first
    WideString current_directory;        // the policy's cwd, as the platform delivered it
    std::string group_sid;
    std::string capability_sid;
};

// Restricted token, private desktop, three standard-stream pipes (standard input has no
// writer), the process created suspended under the token on the desktop, placed in a
// kill-on-close job, then resumed. Progress stages restricted_token_ready to command_resumed
// go to `pipe` when `trace` is set. Once the process exists, every failure ends it (exit code
// 125) before returning; nothing of a failed launch stays open.
Result<LaunchedCommand> launch_command(const CommandSpec& spec, HANDLE pipe, bool trace);

// Waits without a time limit and reads the exit code; releases the command on every path,
// which ends whatever it left running. Codes process_wait_failed, process_status_failed.
Result<DWORD> wait_for_exit(LaunchedCommand command);

}  // namespace quarvel
