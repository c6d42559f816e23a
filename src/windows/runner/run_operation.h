#pragma once
// The `run` operation: runs one command for the host under protection and reports the result
// through the policy's status file, the standard streams and the process exit code.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/wide_text.h"

namespace quarvel {

// Reads the policy (a failure prints its error line and leaves every status file untouched),
// validates it (a failure publishes the failed run document to the policy's status file,
// quietly if that publication fails, prints the error line), and returns the exit code. It
// never returns a failure value: it reports failures itself.
std::int32_t run_operation(WideView state_dir, WideView policy_path,
                           const std::vector<std::string>& command);

}  // namespace quarvel
