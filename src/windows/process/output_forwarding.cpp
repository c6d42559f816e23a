#include "windows/process/output_forwarding.h"

#include <array>
#include <string>
#include <string_view>

#include "windows/process/utf8_stream.h"

namespace quarvel {
namespace {

WorkerFrame frame_of(OutputStream stream, std::string text) {
    if (stream == OutputStream::standard_output)
        return frame::Stdout{std::move(text)};
    return frame::Stderr{std::move(text)};
}

}  // namespace

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
            std::string rest = decoder.finish();
            if (rest.empty())
                return {};
            return channel->send(frame_of(stream, std::move(rest)));
        }
        std::string text = decoder.decode(std::string_view(buffer.data(), got));
        if (text.empty())
            continue;  // only the first bytes of a character so far
        if (auto sent = channel->send(frame_of(stream, std::move(text))); !sent)
            return sent;
    }
}

}  // namespace quarvel
