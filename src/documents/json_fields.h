#pragma once
// Typed reading of one JSON object, so that a document's parser reads like its field table:
//
//     JsonFields fields(value, {"version", "cwd", ...}, UnknownKeys::reject);
//     policy.version = fields.optional_u32("version", 1);
//     policy.cwd = fields.required_path("cwd");
//     ...
//     return fields.finish(std::move(policy));
//
// Accessors never throw and never stop the caller: each returns the member's value, or its
// fallback when the member is absent or wrong, and remembers what went wrong. `finish` then
// reports, in this order of precedence:
// 1. a value that is not an object, or (with UnknownKeys::reject) the first unknown key in
//    document order, found when the reader is made;
// 2. the first wrong member (type, range, unknown word), in the order the accessors ran;
// 3. the first missing required member, in the order the accessors ran, so that required
//    keys are checked after all keys were read, in the order the document type lists them.
// null is never taken as "absent": a null member is wrong for every accessor.
//
// Every description carries the line and column and names the field, e.g.
// "unknown field `foo` at line 1, column 12" or
// "field `version` must be an integer from 0 to 4294967295, found -1 at line 1, column 13".

#include <cstdint>
#include <expected>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "documents/json_reader.h"
#include "platform/wide_text.h"

namespace quarvel {

enum class UnknownKeys {
    reject,  // documents the program's own peers write in full (policy, request, setup files)
    ignore,  // messages that may grow members over time (worker frames)
};

class JsonFields {
  public:
    JsonFields(const JsonValue& value, std::initializer_list<std::string_view> known_keys,
               UnknownKeys unknown_keys);

    bool has(std::string_view key) const { return find(key) != nullptr; }

    std::uint32_t required_u32(std::string_view key);
    std::uint32_t optional_u32(std::string_view key, std::uint32_t fallback);
    std::int32_t required_i32(std::string_view key);
    std::int32_t optional_i32(std::string_view key, std::int32_t fallback);
    std::uint64_t required_u64(std::string_view key);
    bool required_bool(std::string_view key);
    bool optional_bool(std::string_view key, bool fallback);

    // UTF-8 text as the document holds it.
    std::string required_string(std::string_view key);
    std::string optional_string(std::string_view key, std::string fallback);
    std::vector<std::string> required_string_list(std::string_view key);
    std::vector<std::string> optional_string_list(std::string_view key);  // absent: empty

    // Native paths from strings via to_wide, unnormalised. A path holding U+0000 is wrong:
    // Windows would see only the part before it, a different path from the one written.
    WideString required_path(std::string_view key);
    WideString optional_path(std::string_view key, WideString fallback);
    std::vector<WideString> optional_path_list(std::string_view key);  // absent: empty

    // A string that must be exactly one of `words` (case-sensitive); returns its index.
    std::size_t required_choice(std::string_view key,
                                std::initializer_list<std::string_view> words);
    std::size_t optional_choice(std::string_view key, std::initializer_list<std::string_view> words,
                                std::size_t fallback);

    // A member read by another document's parser (a nested object). That parser's error is
    // taken over as it is; it already names its own field and position.
    template <class T>
    T required_nested(std::string_view key,
                      const std::function<std::expected<T, std::string>(const JsonValue&)>& parse) {
        const JsonValue* member = required(key);
        if (member == nullptr)
            return T{};
        auto parsed = parse(*member);
        if (!parsed) {
            record_wrong(std::move(parsed.error()));
            return T{};
        }
        return std::move(*parsed);
    }

    bool ok() const { return !wrong_ && !missing_; }
    // The description `finish` would give; empty while ok().
    std::string error() const;

    template <class T>
    std::expected<T, std::string> finish(T value) const {
        if (!ok())
            return std::unexpected(error());
        return value;
    }

  private:
    const JsonValue* find(std::string_view key) const;
    // The member, or null after recording it as missing.
    const JsonValue* required(std::string_view key);
    void record_wrong(std::string description);
    void record_wrong(std::string_view key, std::string_view expected, const JsonValue& found);

    std::optional<std::int64_t> read_integer(std::string_view key, const JsonValue& value,
                                             std::int64_t low, std::int64_t high);
    std::optional<std::string> read_string(std::string_view key, const JsonValue& value,
                                           std::string_view expected);
    std::optional<WideString> read_path(std::string_view key, const JsonValue& value,
                                        std::string_view expected);
    std::optional<std::size_t> read_choice(std::string_view key, const JsonValue& value,
                                           std::initializer_list<std::string_view> words);
    // An array member whose items `read_item` (read_string or read_path) converts; empty when
    // absent or after recording the first wrong item.
    template <class Item>
    std::vector<Item> read_list(std::string_view key,
                                std::optional<Item> (JsonFields::*read_item)(std::string_view,
                                                                             const JsonValue&,
                                                                             std::string_view));

    const JsonValue* object_ = nullptr;
    std::optional<std::string> wrong_;
    std::optional<std::string> missing_;
};

}  // namespace quarvel
