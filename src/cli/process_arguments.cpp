#include "cli/process_arguments.h"

#include "platform/unique_resource.h"
#include "platform/win32.h"
#include "windows/security/os_failure.h"

namespace quarvel::cli {

Result<std::vector<WideString>> process_arguments() {
    int count = 0;
    LocalPtr<LPWSTR> argv(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!argv) {
        return std::unexpected(
            os_failure("command_line_unavailable", "Could not read the process command line."));
    }
    std::vector<WideString> arguments;
    for (int k = 1; k < count; ++k)
        arguments.emplace_back(argv.get()[k]);
    return arguments;
}

}  // namespace quarvel::cli
