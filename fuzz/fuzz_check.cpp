#include "fuzz_check.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "documents/json_reader.h"
#include "platform/wide_text.h"

namespace quarvel::fuzz {
namespace {

bool is_snake_case(std::string_view code) {
    if (code.empty() || code.front() == '_' || code.back() == '_')
        return false;
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        const bool letter = c >= 'a' && c <= 'z';
        const bool joint = c == '_' && code[i - 1] != '_';
        if (!letter && !joint)
            return false;
    }
    return true;
}

bool is_digits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

std::size_t number(std::string_view digits) {
    std::size_t value = 0;
    for (const char digit : digits) {
        if (value > 1'000'000'000)
            return value;  // beyond any document a fuzzer makes
        value = value * 10 + static_cast<std::size_t>(digit - '0');
    }
    return value;
}

// The position " at line L, column C" that ends `text`, with L and C positive decimal numbers.
std::optional<JsonPosition> final_position(std::string_view text) {
    const auto at = text.rfind(" at line ");
    if (at == std::string_view::npos)
        return std::nullopt;
    const std::string_view rest = text.substr(at + 9);
    const auto comma = rest.find(", column ");
    if (comma == std::string_view::npos)
        return std::nullopt;
    const std::string_view line = rest.substr(0, comma);
    const std::string_view column = rest.substr(comma + 9);
    if (!is_digits(line) || !is_digits(column) || line.front() == '0' || column.front() == '0')
        return std::nullopt;
    return JsonPosition{number(line), number(column)};
}

// Whether the position names a place in the document, or the place just after a line's last
// character. Columns count characters: bytes that do not continue a UTF-8 sequence.
bool lies_in(JsonPosition position, std::string_view document) {
    std::size_t line = 1;
    std::size_t characters = 0;
    for (const char byte : document) {
        if (byte == '\n') {
            if (line == position.line)
                break;
            ++line;
            characters = 0;
        } else if ((static_cast<unsigned char>(byte) & 0xC0) != 0x80) {
            ++characters;
        }
    }
    return line == position.line && position.column <= characters + 1;
}

const JsonValue* member(const JsonValue& object, std::string_view key) {
    for (const auto& m : object.members)
        if (m.key == key)
            return &m.value;
    return nullptr;
}

}  // namespace

void require(bool holds, std::string_view what, std::source_location where) {
    if (holds)
        return;
    std::fprintf(stderr, "\nproperty broken at %s:%u: %.*s\n", where.file_name(),
                 static_cast<unsigned>(where.line()), static_cast<int>(what.size()), what.data());
    std::abort();
}

void require_reader_description(std::string_view description, std::string_view document) {
    require(!description.empty(), "a reader's error has a description");
    require(is_valid_utf8(description), "a reader's error is UTF-8 text");
    const auto position = final_position(description);
    require(position.has_value(), "a reader's error ends with its position");
    require(lies_in(*position, document), "a reader's error points into the document");
}

void require_printable_failure(const Failure& failure, std::int32_t exit_code) {
    require(is_snake_case(failure.code), "a failure's code is snake_case");
    require(!failure.message.empty(), "a failure has a message");
    require(is_valid_utf8(failure.message), "a failure's message is UTF-8 text");
    require(failure.exit_code == exit_code, "a failure carries its exit code");
    const auto line = read_json_document(error_line(failure));
    require(line.has_value(), "a failure's error line is one JSON document");
    require(line->kind == JsonKind::object && line->members.size() == 2,
            "an error line holds code and message");
    const JsonValue* code = member(*line, "code");
    const JsonValue* message = member(*line, "message");
    require(code != nullptr && code->kind == JsonKind::string && code->text == failure.code,
            "an error line reads back as the failure's code");
    require(
        message != nullptr && message->kind == JsonKind::string && message->text == failure.message,
        "an error line reads back as the failure's message");
}

}  // namespace quarvel::fuzz
