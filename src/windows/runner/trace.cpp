#include "windows/runner/trace.h"

#include <string>

#include "cli/console.h"
#include "platform/wide_text.h"

namespace quarvel {

bool trace_enabled() {
    // Room for one character and the terminating zero: a longer value does not fit and is
    // answered with the size it needs, so it can never read as "1". A value that is not valid
    // Unicode is not the single character "1" either.
    WCHAR value[2] = {};
    const DWORD length = GetEnvironmentVariableW(to_wide(kTraceVariable).c_str(), value, 2);
    return length == 1 && value[0] == u'1';
}

void trace_stage(std::string_view stage) {
    if (!trace_enabled())
        return;
    std::string line = "Quarvel native trace: ";
    line += stage;
    line += '\n';
    (void)write_standard_error(line);
}

}  // namespace quarvel
