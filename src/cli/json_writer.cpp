#include "cli/json_writer.h"

#include <algorithm>

#include "platform/utf8_scan.h"

namespace quarvel {
namespace {

// No byte takes more room escaped than \u00XX.
constexpr std::size_t kMostEscapedBytes = 6;

// Writes the escape of `byte` (a quote, a backslash or a control character) at `out` and
// returns the end of what it wrote.
char* write_escaped(char* out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789abcdef";
    *out++ = '\\';
    switch (byte) {
        case '"':
        case '\\':
            *out++ = static_cast<char>(byte);
            return out;
        case '\b':
            *out++ = 'b';
            return out;
        case '\t':
            *out++ = 't';
            return out;
        case '\n':
            *out++ = 'n';
            return out;
        case '\f':
            *out++ = 'f';
            return out;
        case '\r':
            *out++ = 'r';
            return out;
        default:
            for (const char c : {'u', '0', '0', kHex[byte >> 4], kHex[byte & 0x0F]})
                *out++ = c;
            return out;
    }
}

char* write_plain(char* out, std::string_view text, std::size_t from, std::size_t to) {
    return std::copy(text.data() + from, text.data() + to, out);
}

// Writes `text` escaped at `out` and returns the end of what it wrote.
char* write_json_escaped(char* out, std::string_view text) {
    JsonSpecialBytes specials(text);
    std::size_t plain_from = 0;
    for (std::size_t at = specials.next(); at < text.size(); at = specials.next()) {
        out = write_plain(out, text, plain_from, at);
        out = write_escaped(out, static_cast<unsigned char>(text[at]));
        plain_from = at + 1;
    }
    return write_plain(out, text, plain_from, text.size());
}

}  // namespace

void append_json_escaped(std::string& out, std::string_view text) {
    // Written in place into room for the worst case, then cut back to what was written: no
    // growing and no check of the room left for each run and escape of 8 KiB of output.
    const std::size_t start = out.size();
    out.resize_and_overwrite(start + kMostEscapedBytes * text.size(),
                             [&](char* buffer, std::size_t) {
                                 char* end = write_json_escaped(buffer + start, text);
                                 return static_cast<std::size_t>(end - buffer);
                             });
}

void append_json_string_unchecked(std::string& out, std::string_view text) {
    out += '"';
    append_json_escaped(out, text);
    out += '"';
}

bool append_json_string(std::string& out, std::string_view text) {
    if (!is_valid_utf8(text))
        return false;
    append_json_string_unchecked(out, text);
    return true;
}

void JsonWriter::before_value() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (!first_in_container_.empty()) {
        if (!first_in_container_.back())
            out_ += ',';
        first_in_container_.back() = false;
    }
}

JsonWriter& JsonWriter::begin_object() {
    before_value();
    out_ += '{';
    first_in_container_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::end_object() {
    out_ += '}';
    first_in_container_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::begin_array() {
    before_value();
    out_ += '[';
    first_in_container_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::end_array() {
    out_ += ']';
    first_in_container_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
    before_value();
    if (!append_json_string(out_, name) && error_.empty())
        error_ = "key contains invalid UTF-8 characters";
    out_ += ':';
    after_key_ = true;
    return *this;
}

JsonWriter& JsonWriter::string(std::string_view utf8) {
    before_value();
    if (!append_json_string(out_, utf8)) {
        if (error_.empty())
            error_ = "string contains invalid UTF-8 characters";
        out_ += "\"\"";
    }
    return *this;
}

JsonWriter& JsonWriter::path(WideView native) {
    const auto text = narrow_strict(native);
    if (!text) {
        before_value();
        out_ += "\"\"";
        if (error_.empty())
            error_ = "path contains invalid UTF-8 characters";
        return *this;
    }
    return string(*text);
}

JsonWriter& JsonWriter::unsigned_number(std::uint64_t value) {
    before_value();
    out_ += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::signed_number(std::int64_t value) {
    before_value();
    out_ += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::boolean(bool value) {
    before_value();
    out_ += value ? "true" : "false";
    return *this;
}

std::expected<std::string, std::string> JsonWriter::finish() && {
    if (!error_.empty())
        return std::unexpected(std::move(error_));
    return std::move(out_);
}

}  // namespace quarvel
