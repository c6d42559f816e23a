#pragma once
// cmd.exe in the Windows system directory, the trivial command that profile initialisation
// runs as a protected account.

#include "cli/failure.h"
#include "platform/wide_text.h"

namespace quarvel {

// The system directory (asked for with a 260-unit buffer, then with as much as Windows says it
// needs) joined with cmd.exe, when that names an existing file. Fails with
// system_command_unavailable, "Windows system command is unavailable.": with the Windows error
// when the directory cannot be had, without when cmd.exe is missing or not a file.
Result<WideString> system_command_path();

}  // namespace quarvel
