// A small program that publishes the ready status document twice to the path it is given and
// prints its process id, then one line per publication: "ok" or the failure's error line. Tests
// use it to see the temporary names of a fresh process's first publications.

#include <string>

#include "cli/console.h"
#include "cli/process_arguments.h"
#include "status/publish_status.h"

int main() {
    const auto arguments = quarvel::cli::process_arguments();
    if (!arguments || arguments->size() != 1)
        return 64;
    const auto report =
        quarvel::success_report(quarvel::Operation::probe, quarvel::StatusState::ready, "ready",
                                "Windows command protection is ready.");
    std::string printed = std::to_string(GetCurrentProcessId()) + "\n";
    for (int round = 0; round < 2; ++round) {
        const auto published = quarvel::publish_status(arguments->front(), report);
        printed += published ? std::string("ok") : quarvel::error_line(published.error());
        printed += "\n";
    }
    return quarvel::write_standard_output(printed) ? 0 : 74;
}
