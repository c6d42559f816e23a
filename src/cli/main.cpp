// Process entry of quarvel-sandbox-windows.

#include "cli/console.h"
#include "cli/dispatch.h"
#include "cli/process_arguments.h"

int main() {
    const auto arguments = quarvel::cli::process_arguments();
    if (!arguments) {
        quarvel::print_error_line(arguments.error());
        return arguments.error().exit_code;
    }
    return quarvel::cli::run_program(*arguments);
}
