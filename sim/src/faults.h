#pragma once
// Fault injection, seen from inside the simulated calls.

#include <winsim/testing.h>

#include <optional>
#include <string_view>

namespace winsim {

// Counts one call of `function` and returns the fault armed for this call, if any. Call it
// first thing in every simulated function that a test may need to make fail.
std::optional<Fault> take_fault(std::string_view function);

}  // namespace winsim

// For BOOL calls whose only fault is failure: sets the injected last error and returns FALSE.
#define WINSIM_FAIL_IF_INJECTED(function)                      \
    do {                                                       \
        if (auto injected_ = ::winsim::take_fault(function)) { \
            if (injected_->kind == ::winsim::FaultKind::fail)  \
                return ::winsim::fail(injected_->value);       \
        }                                                      \
    } while (false)
