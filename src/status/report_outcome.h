#pragma once
// The reporting step that ends `probe` and `setup`: the status file, the standard streams and
// the process exit code for the operation's outcome.

#include <cstdint>

#include "cli/failure.h"
#include "platform/wide_text.h"
#include "status/status_report.h"

namespace quarvel {

// For a success document: publishes it, prints it and a line feed to standard output, and
// returns 0 for the states ready and completed, 1 for any other. For a failure: publishes its
// failed document, prints its error line to standard error and returns its exit code. A failed
// publication prints its own error line to standard error first; after a success nothing goes
// to standard output then and its exit code is returned.
std::int32_t report_outcome(Operation operation, WideView status_file,
                            const Result<StatusReport>& outcome);

}  // namespace quarvel
