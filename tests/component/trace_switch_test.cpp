// The trace switch: exactly the one character "1" turns tracing on, read afresh every time.

#include <gtest/gtest.h>

#include <cstdlib>

#include "windows/runner/trace.h"

namespace quarvel {
namespace {

TEST(TraceSwitch, OnlyTheSingleCharacterOneTurnsTracingOn) {
    ::unsetenv(kTraceVariable);
    EXPECT_FALSE(trace_enabled());
    ::setenv(kTraceVariable, "1", 1);
    EXPECT_TRUE(trace_enabled());
    // Values travel as WTF-8 in the simulated host: "\xED\xA0\x80" is a lone surrogate.
    for (const char* off : {"", "0", "11", "true", "yes", " 1", "1 ", "\xED\xA0\x80", "1\xED\xA0\x80"}) {
        ::setenv(kTraceVariable, off, 1);
        EXPECT_FALSE(trace_enabled()) << off;
    }
    ::unsetenv(kTraceVariable);
}

}  // namespace
}  // namespace quarvel
