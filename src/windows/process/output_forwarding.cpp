#include "windows/process/output_forwarding.h"

#include <array>
#include <string>
#include <string_view>

#include "cli/json_writer.h"
#include "windows/process/utf8_stream.h"

namespace quarvel {
namespace {

std::string_view frame_head(OutputStream stream) {
    return stream == OutputStream::standard_output ? kStdoutFrameHead : kStderrFrameHead;
}

// The frame body around the text `fill` appends to it escaped; empty when it appended nothing
// (no frame is sent for no output).
template <class Fill>
std::string frame_body(OutputStream stream, Fill fill) {
    std::string body(frame_head(stream));
    fill(body);
    if (body.size() == frame_head(stream).size())
        return {};
    body += kOutputFrameTail;
    return body;
}

// The end of the stream: a character still held back can no longer complete.
std::string last_frame_body(OutputStream stream, Utf8Stream& decoder) {
    return frame_body(stream, [&](std::string& out) { append_json_escaped(out, decoder.finish()); });
}

}  // namespace

std::string output_frame_body(OutputStream stream, Utf8Stream& decoder, std::string_view piece) {
    // The decoded text goes into the body escaped, with no text of its own in between.
    return frame_body(stream, [&](std::string& out) { decoder.decode_escaped(piece, out); });
}

Result<void> forward_output(UniqueHandle read_end, std::shared_ptr<SharedChannel> channel,
                            OutputStream stream) {
    std::array<char, kOutputPieceBytes> buffer{};
    Utf8Stream decoder;
    for (;;) {
        // Room is left for what the decoder holds back, so that no frame carries more than
        // one buffer's worth of output.
        const auto room = static_cast<DWORD>(buffer.size() - decoder.held());
        DWORD got = 0;
        if (!ReadFile(read_end.get(), buffer.data(), room, &got, nullptr) || got == 0) {
            // End of the stream (a broken pipe once every writer has gone, usually).
            const std::string body = last_frame_body(stream, decoder);
            if (body.empty())
                return {};
            return channel->send_body(body);
        }
        const std::string body =
            output_frame_body(stream, decoder, std::string_view(buffer.data(), got));
        if (body.empty())
            continue;
        if (auto sent = channel->send_body(body); !sent)
            return sent;
    }
}

}  // namespace quarvel
