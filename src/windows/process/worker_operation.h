#pragma once
// The hidden `__worker --pipe <name>` operation: the second half of `run`, under the protected
// account. It serves exactly one request from the runner and says everything it has to say as
// frames on the runner's pipe.

#include <cstdint>
#include <string_view>

namespace quarvel {

// Connects to the pipe, reads and checks one request, verifies its own identity, starts the
// command confined, forwards its output, reports its exit code, and returns the process exit
// code: 0 once Exited was written, otherwise the failure's exit code (after one attempt to
// write Failed). Only a pipe that cannot be opened at all is reported on standard error.
std::int32_t run_worker(std::string_view pipe_name);

}  // namespace quarvel
