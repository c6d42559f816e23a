// Process entry of quarvel-sandbox-windows.

#include "cli/console.h"
#include "cli/dispatch.h"
#include "cli/process_arguments.h"
#include "platform/win32.h"

namespace {

std::int32_t run() {
    const auto arguments = quarvel::cli::process_arguments();
    if (!arguments) {
        quarvel::print_error_line(arguments.error());
        return arguments.error().exit_code;
    }
    return quarvel::cli::run_program(*arguments);
}

}  // namespace

int main() {
    // The exit code is a full 32-bit value (a protected command may end with 0xC0000005);
    // ExitProcess carries all of it. Output is written unbuffered, so nothing is left to flush.
    ExitProcess(static_cast<UINT>(run()));
}
