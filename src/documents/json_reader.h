#pragma once
// The one strict JSON reader behind every document the program reads (policy, worker request,
// worker frames, setup files). It turns bytes into a small value tree that remembers where
// each value and key stood, so that every later complaint can say where the problem is.
//
// What the reader itself rejects, whatever the document:
// - anything but exactly one value with only JSON whitespace (space, tab, LF, CR) around it;
// - a byte-order mark;
// - invalid UTF-8 inside a string, and every other RFC 8259 syntax error;
// - a key repeated within one object;
// - nesting deeper than `kMaxJsonDepth` levels.
// Typed reading of objects (known keys, required keys, integer ranges) is in json_fields.h.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel {

inline constexpr std::size_t kMaxJsonDepth = 128;

// Where a value or key begins: 1-based line, and 1-based column counted in characters.
struct JsonPosition {
    std::size_t line = 1;
    std::size_t column = 1;

    bool operator==(const JsonPosition&) const = default;
};

// `what` followed by " at line L, column C": the form of every reader description.
std::string describe_at(std::string_view what, JsonPosition where);

enum class JsonKind {
    null,
    boolean,
    unsigned_integer,  // a number without fraction or exponent, 0 or more
    negative_integer,  // a number without fraction or exponent, below 0
    fraction,          // any other number (fraction, exponent, or beyond 64 bits)
    string,
    array,
    object,
};

struct JsonMember;

struct JsonValue {
    JsonKind kind = JsonKind::null;
    JsonPosition position;
    bool boolean = false;
    std::uint64_t unsigned_integer = 0;
    std::int64_t negative_integer = 0;
    // The string's UTF-8 text, or a fraction's number as written in the document.
    std::string text;
    std::vector<JsonValue> items;     // array elements in order
    std::vector<JsonMember> members;  // object members in document order, keys unique
};

struct JsonMember {
    std::string key;
    JsonPosition key_position;
    JsonValue value;
};

// Parses one whole document. The error is the reader's description, ending with the position,
// e.g. "duplicate field `cwd` at line 3, column 5".
std::expected<JsonValue, std::string> read_json_document(std::string_view bytes);

// Short description of a value for error texts: "null", "true", "-1", "2.0", "a string",
// "an array", "an object".
std::string describe_found(const JsonValue& value);

}  // namespace quarvel
