#pragma once
// Forwarding one of the command's output streams to the runner, one frame per piece read.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "cli/failure.h"
#include "platform/unique_resource.h"
#include "windows/channel/shared_channel.h"
#include "windows/process/utf8_stream.h"

namespace quarvel {

enum class OutputStream { standard_output, standard_error };

// The most bytes of the command's output one frame carries.
inline constexpr std::size_t kOutputPieceBytes = 8192;

// The message body of the Stdout or Stderr frame that carries `piece` decoded by `decoder`:
// byte for byte what write_worker_frame writes for that frame. Empty when the piece gives no
// text yet (only the first bytes of a character, held back by the decoder).
std::string output_frame_body(OutputStream stream, Utf8Stream& decoder, std::string_view piece);

// Reads until end of file (or any read error) and sends each piece as a Stdout or Stderr frame
// through the channel's lock. A character split between two reads is completed from the next
// read before it is sent, and each frame carries 1 to 8,192 bytes of output. Ends with success
// at end of file, or with the failure of a frame that could not be sent (ipc_lock_failed,
// ipc_write_failed, ...). The read end is closed when it returns.
Result<void> forward_output(UniqueHandle read_end, std::shared_ptr<SharedChannel> channel,
                            OutputStream stream);

}  // namespace quarvel
