#pragma once
// `probe`: whether command protection is usable now, without changing anything; and the same
// reporting for the end of `setup`.

#include <cstdint>

#include "platform/wide_text.h"
#include "windows/setup/load_setup.h"

namespace quarvel {

// Loads and verifies the setup state in `state_dir`, reports ready or the failure to
// `status_file` and the standard streams, and returns the exit code (0, 78 for setup_required,
// the failure's otherwise).
std::int32_t probe_operation(WideView state_dir, WideView status_file);

// Reports setup's outcome exactly as a probe's, with operation setup.
std::int32_t report_setup(const Result<LoadedSetup>& outcome, WideView status_file);

}  // namespace quarvel
