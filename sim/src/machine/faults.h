#pragma once
// Fault injection, seen from inside the simulated calls.
//
// A fault names a call site as "[role/]Function[@qualifier]". The role selects the process
// that arms it: the one whose first argument after the program name is that word ("run",
// "__worker", ...); a fault without a role is armed by the first process that reads it. The
// qualifier selects the kind of object where one function serves several ("@Process",
// "@Thread", "@Pipe", ...); a fault without one matches every call of the function.

#include <winsim/testing.h>

#include <optional>
#include <string>
#include <string_view>

namespace winsim {

// Counts one call of `function` and returns the fault armed for this call, if any. Call it
// first thing in every simulated function that a test may need to make fail. When
// WINSIM_CALL_LOG names a file, the call is also appended to it as one line
// "<role> <function>[@qualifier]" ("-" for a process without a role).
std::optional<Fault> take_fault(std::string_view function);
// The same for a call on one kind of object: a fault armed for the bare function or for
// "function@qualifier" fires here.
std::optional<Fault> take_fault(std::string_view function, std::string_view qualifier);

// Faults armed for roles other than this process's, in WINSIM_FAULTS form, for the
// environment of every process this one starts; empty when there are none.
std::string faults_for_descendants();

}  // namespace winsim

// For BOOL calls whose only fault is failure: sets the injected last error and returns FALSE.
#define WINSIM_FAIL_IF_INJECTED(function)                      \
    do {                                                       \
        if (auto injected_ = ::winsim::take_fault(function)) { \
            if (injected_->kind == ::winsim::FaultKind::fail)  \
                return ::winsim::fail(injected_->value);       \
        }                                                      \
    } while (false)

// The same for a call on one kind of object.
#define WINSIM_FAIL_IF_INJECTED_ON(function, qualifier)                   \
    do {                                                                  \
        if (auto injected_ = ::winsim::take_fault(function, qualifier)) { \
            if (injected_->kind == ::winsim::FaultKind::fail)             \
                return ::winsim::fail(injected_->value);                  \
        }                                                                 \
    } while (false)
