#include "windows/channel/plain_output_frame.h"

#include <cstdint>
#include <string>

#include "platform/utf8_scan.h"

namespace quarvel {
namespace {

static_assert(kStdoutFrameHead.size() == kStderrFrameHead.size());

std::optional<unsigned> hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<unsigned>(c - 'A' + 10);
    return std::nullopt;
}

// The code unit of "\uXXXX" at the start of `escape`, or nothing.
std::optional<char32_t> unicode_escape(std::string_view escape) {
    if (escape.size() < 6)
        return std::nullopt;
    char32_t unit = 0;
    for (const char c : escape.substr(2, 4)) {
        const auto digit = hex_digit(c);
        if (!digit)
            return std::nullopt;
        unit = unit << 4 | *digit;
    }
    return unit;
}

void append_utf8(std::string& text, char32_t c) {
    if (c < 0x80) {
        text += static_cast<char>(c);
    } else if (c < 0x800) {
        text += static_cast<char>(0xC0 | (c >> 6));
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        text += static_cast<char>(0xE0 | (c >> 12));
        text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Appends the character of the escape at the start of `rest` and returns how many bytes it
// took, or 0 for anything this road leaves to the general reader (a surrogate escape, which
// needs its pair, or no valid escape at all).
std::size_t append_escape(std::string_view rest, std::string& text) {
    if (rest.size() < 2)
        return 0;
    switch (rest[1]) {
        case '"':
        case '\\':
        case '/':
            text += rest[1];
            return 2;
        case 'b':
            text += '\b';
            return 2;
        case 'f':
            text += '\f';
            return 2;
        case 'n':
            text += '\n';
            return 2;
        case 'r':
            text += '\r';
            return 2;
        case 't':
            text += '\t';
            return 2;
        case 'u': {
            const auto unit = unicode_escape(rest);
            if (!unit || (*unit >= 0xD800 && *unit <= 0xDFFF))
                return 0;
            append_utf8(text, *unit);
            return 6;
        }
        default:
            return 0;
    }
}

// The text of a JSON string's contents (between its quotes), or nothing when it holds anything
// but valid UTF-8 and the escapes append_escape takes: a bare quote, a control character...
std::optional<std::string> unescape(std::string_view contents) {
    std::string text;
    text.reserve(contents.size());
    while (!contents.empty()) {
        const std::size_t plain = json_plain_prefix(contents);
        // A run ends before a quote, a backslash or a control character, never inside a
        // character, so each run can be checked on its own.
        const std::string_view run = contents.substr(0, plain);
        if (valid_utf8_prefix(run) != run.size())
            return std::nullopt;
        text.append(run);
        contents.remove_prefix(plain);
        if (contents.empty())
            break;
        if (contents.front() != '\\')
            return std::nullopt;
        const std::size_t taken = append_escape(contents, text);
        if (taken == 0)
            return std::nullopt;
        contents.remove_prefix(taken);
    }
    return text;
}

}  // namespace

std::optional<WorkerFrame> read_plain_output_frame(std::string_view body) {
    const bool is_stdout = body.starts_with(kStdoutFrameHead);
    if (!is_stdout && !body.starts_with(kStderrFrameHead))
        return std::nullopt;
    // The tail may not overlap the head's opening quote.
    if (body.size() < kStdoutFrameHead.size() + kOutputFrameTail.size() ||
        !body.ends_with(kOutputFrameTail))
        return std::nullopt;
    auto data = unescape(body.substr(
        kStdoutFrameHead.size(), body.size() - kStdoutFrameHead.size() - kOutputFrameTail.size()));
    if (!data)
        return std::nullopt;
    if (is_stdout)
        return frame::Stdout{std::move(*data)};
    return frame::Stderr{std::move(*data)};
}

}  // namespace quarvel
