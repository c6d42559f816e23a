#include "windows/channel/plain_output_frame.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

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

char* write_utf8(char* out, char32_t c) {
    if (c < 0x80) {
        *out++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *out++ = static_cast<char>(0xC0 | (c >> 6));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out++ = static_cast<char>(0xE0 | (c >> 12));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

// Writes the character of the escape at the start of `rest` at `out`; returns how many bytes
// of `rest` it took and the end of what it wrote, or 0 taken for anything this road leaves to
// the general reader (a surrogate escape, which needs its pair, or no valid escape at all).
std::pair<std::size_t, char*> write_unescaped(std::string_view rest, char* out) {
    if (rest.size() < 2)
        return {0, out};
    switch (rest[1]) {
        case '"':
        case '\\':
        case '/':
            *out++ = rest[1];
            return {2, out};
        case 'b':
            *out++ = '\b';
            return {2, out};
        case 'f':
            *out++ = '\f';
            return {2, out};
        case 'n':
            *out++ = '\n';
            return {2, out};
        case 'r':
            *out++ = '\r';
            return {2, out};
        case 't':
            *out++ = '\t';
            return {2, out};
        case 'u': {
            const auto unit = unicode_escape(rest);
            if (!unit || (*unit >= 0xD800 && *unit <= 0xDFFF))
                return {0, out};
            return {6, write_utf8(out, *unit)};
        }
        default:
            return {0, out};
    }
}

// Writes the text of a JSON string's contents (between its quotes) at `out`, which has room
// for the contents (no character takes more room than its escape); returns the end of what it
// wrote, or null when the contents hold anything but the escapes write_unescaped takes and
// bytes a string holds as they are: a bare quote, a control character...
char* write_contents(std::string_view contents, char* out) {
    JsonSpecialBytes specials(contents);
    std::size_t plain_from = 0;
    for (std::size_t at = specials.next(); at < contents.size(); at = specials.next()) {
        if (at < plain_from)
            continue;  // the quote or backslash of an escape already taken
        out = std::copy(contents.data() + plain_from, contents.data() + at, out);
        if (contents[at] != '\\')
            return nullptr;
        const auto [taken, end] = write_unescaped(contents.substr(at), out);
        if (taken == 0)
            return nullptr;
        out = end;
        plain_from = at + taken;
    }
    return std::copy(contents.data() + plain_from, contents.data() + contents.size(), out);
}

// The text of a JSON string's contents, or nothing when write_contents refuses them or they
// are not valid UTF-8.
std::optional<std::string> unescape(std::string_view contents) {
    // Escapes are ASCII: the contents are valid UTF-8 exactly when each run between them is.
    if (valid_utf8_prefix(contents) != contents.size())
        return std::nullopt;
    std::string text;
    bool taken = true;
    text.resize_and_overwrite(contents.size(), [&](char* buffer, std::size_t) {
        const char* end = write_contents(contents, buffer);
        taken = end != nullptr;
        return taken ? static_cast<std::size_t>(end - buffer) : 0;
    });
    if (!taken)
        return std::nullopt;
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
