#include "windows/process/utf8_stream.h"

#include <cstdint>

#include "cli/json_writer.h"
#include "platform/utf8_scan.h"

namespace quarvel {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

enum class Step { complete, invalid, incomplete };

// Looks at the sequence starting at `at`; `length` receives how many bytes it covers (the
// sequence, the maximal invalid subpart, or what is there of an incomplete one).
Step examine(std::string_view bytes, std::size_t at, std::size_t& length) {
    const auto shape = utf8_sequence_shape(static_cast<std::uint8_t>(bytes[at]));
    if (shape.length == 0) {
        length = 1;
        return Step::invalid;
    }
    for (std::size_t k = 1; k < shape.length; ++k) {
        if (at + k >= bytes.size()) {
            length = k;
            return Step::incomplete;
        }
        const auto byte = static_cast<std::uint8_t>(bytes[at + k]);
        const std::uint8_t low = k == 1 ? shape.second_low : 0x80;
        const std::uint8_t high = k == 1 ? shape.second_high : 0xBF;
        if (byte < low || byte > high) {
            length = k;
            return Step::invalid;
        }
    }
    length = shape.length;
    return Step::complete;
}

void append_text(std::string& out, std::string_view text) {
    out.append(text);
}

}  // namespace

std::string_view Utf8Stream::finish_held(std::string_view piece, std::string& out, Append append) {
    // The held bytes and the next few of the piece hold the whole character, or show that it
    // cannot be one: no sequence is longer than kMaxHeld + 1 bytes.
    const std::size_t held = held_.size();
    std::string head = std::move(held_);
    held_.clear();
    head.append(piece.substr(0, kMaxHeld));
    std::size_t length = 0;
    switch (examine(head, 0, length)) {
        case Step::complete:
            append(out, std::string_view(head).substr(0, length));
            break;
        case Step::invalid:
            append(out, kReplacement);
            break;
        case Step::incomplete:
            held_ = std::move(head);  // the piece was shorter than the rest of the character
            return {};
    }
    // The held bytes were a valid beginning, so whatever the outcome it covers all of them.
    return piece.substr(length - held);
}

void Utf8Stream::decode_into(std::string_view bytes, std::string& out, Append append) {
    while (!bytes.empty()) {
        const std::size_t valid = valid_utf8_prefix(bytes);
        append(out, bytes.substr(0, valid));
        bytes.remove_prefix(valid);
        if (bytes.empty())
            return;
        std::size_t length = 0;
        switch (examine(bytes, 0, length)) {
            case Step::complete:  // not reached: the valid run would have taken it
                append(out, bytes.substr(0, length));
                break;
            case Step::invalid:
                append(out, kReplacement);
                break;
            case Step::incomplete:
                held_.assign(bytes);
                return;
        }
        bytes.remove_prefix(length);
    }
}

std::string Utf8Stream::decode(std::string_view piece) {
    std::string text;
    // Valid output, the usual case, comes out the size it went in.
    text.reserve(held_.size() + piece.size());
    decode_with(piece, text, append_text);
    return text;
}

void Utf8Stream::decode_escaped(std::string_view piece, std::string& out) {
    decode_with(piece, out, append_json_escaped);
}

void Utf8Stream::decode_with(std::string_view piece, std::string& out, Append append) {
    if (!held_.empty())
        piece = finish_held(piece, out, append);
    decode_into(piece, out, append);
}

std::string Utf8Stream::finish() {
    if (held_.empty())
        return {};
    held_.clear();
    return std::string(kReplacement);
}

}  // namespace quarvel
