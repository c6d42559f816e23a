#pragma once

#include <vector>

#include "cli/failure.h"
#include "platform/wide_text.h"

namespace quarvel::cli {

// The process's arguments as Windows splits its command line for a console program, without
// the program's own name.
Result<std::vector<WideString>> process_arguments();

}  // namespace quarvel::cli
