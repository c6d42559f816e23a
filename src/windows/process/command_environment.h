#pragma once
// The environment the command inherits from the worker: the protected account's own, except
// that TEMP and TMP name the run's temporary directory, the one place outside the workspace
// where the command may write.

#include "cli/failure.h"
#include "platform/wide_text.h"

namespace quarvel {

// Sets TEMP and TMP of this process to `directory`, so that a command created without an
// environment block of its own inherits them. Failure: `command_environment_failed`, "Could not
// set protected command temporary directory." with the Windows error.
Result<void> use_temp_directory(WideView directory);

}  // namespace quarvel
