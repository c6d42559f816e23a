#pragma once

#include <cstdint>
#include <span>

#include "cli/command.h"

namespace quarvel::cli {

// Runs the operation a command names and returns the process exit code. Operations report
// their own outcome (status file, output, error lines).
std::int32_t dispatch(const Command& command);

// The whole program: arguments after the program's name in, process exit code out.
std::int32_t run_program(std::span<const WideString> arguments);

}  // namespace quarvel::cli
