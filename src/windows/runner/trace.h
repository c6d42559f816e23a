#pragma once
// Trace lines: how far a run got, one line per stage on standard error, when the host asks for
// them through the environment.

#include <string_view>

namespace quarvel {

inline constexpr const char* kTraceVariable = "QUARVEL_NATIVE_TRACE";

// Whether QUARVEL_NATIVE_TRACE is set to exactly the one character "1". Unset, empty, "0", "11",
// "true", " 1" and every other value are off. Read afresh at every call.
bool trace_enabled();

// "Quarvel native trace: " + stage + a line feed on standard error, when tracing is on at this
// moment. A standard error that cannot be written is ignored: tracing never changes a run.
void trace_stage(std::string_view stage);

}  // namespace quarvel
