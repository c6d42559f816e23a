#pragma once
// The anonymous pipes that carry the command's standard streams.

#include "cli/failure.h"
#include "platform/unique_resource.h"

namespace quarvel {

struct OutputPipe {
    UniqueHandle read;
    UniqueHandle write;
};

// Both ends inheritable, default buffer size. Code stdio_pipe_failed.
Result<OutputPipe> create_output_pipe();

}  // namespace quarvel
