#include "cli/json_writer.h"

#include "platform/utf8_scan.h"

namespace quarvel {
namespace {

void append_escaped(std::string& out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789abcdef";
    switch (byte) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
    }
}

}  // namespace

void append_json_escaped(std::string& out, std::string_view text) {
    // Room for the text and a few escapes up front: command output comes 8 KiB a string, and
    // growing to that from the writer's first capacity would copy it several times.
    out.reserve(out.size() + text.size() + text.size() / 16 + 2);
    while (!text.empty()) {
        const std::size_t plain = json_plain_prefix(text);
        out.append(text.substr(0, plain));
        text.remove_prefix(plain);
        if (text.empty())
            break;
        append_escaped(out, static_cast<unsigned char>(text.front()));
        text.remove_prefix(1);
    }
}

void append_json_string_unchecked(std::string& out, std::string_view text) {
    out += '"';
    append_json_escaped(out, text);
    out += '"';
}

bool append_json_string(std::string& out, std::string_view text) {
    if (valid_utf8_prefix(text) != text.size())
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
