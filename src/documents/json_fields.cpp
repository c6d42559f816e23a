#include "documents/json_fields.h"

#include <algorithm>
#include <limits>

namespace quarvel {
namespace {

std::string quoted_field(std::string_view key) {
    return "field `" + std::string(key) + "`";
}

std::string integer_range(std::int64_t low, std::int64_t high) {
    return "an integer from " + std::to_string(low) + " to " + std::to_string(high);
}

std::string word_list(std::initializer_list<std::string_view> words) {
    std::string listed;
    for (const auto word : words) {
        if (!listed.empty())
            listed += ", ";
        listed += '"';
        listed += word;
        listed += '"';
    }
    return "one of " + listed;
}

constexpr std::int64_t kU32Max = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();
constexpr std::int64_t kI32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kI32Max = std::numeric_limits<std::int32_t>::max();

}  // namespace

JsonFields::JsonFields(const JsonValue& value, std::initializer_list<std::string_view> known_keys,
                       UnknownKeys unknown_keys) {
    if (value.kind != JsonKind::object) {
        record_wrong(
            describe_at("expected an object, found " + describe_found(value), value.position));
        return;
    }
    object_ = &value;
    if (unknown_keys == UnknownKeys::ignore)
        return;
    for (const auto& member : value.members) {
        if (std::ranges::find(known_keys, member.key) == known_keys.end()) {
            record_wrong(describe_at("unknown field `" + member.key + "`", member.key_position));
            return;
        }
    }
}

const JsonValue* JsonFields::find(std::string_view key) const {
    if (object_ == nullptr)
        return nullptr;
    for (const auto& member : object_->members)
        if (member.key == key)
            return &member.value;
    return nullptr;
}

const JsonValue* JsonFields::required(std::string_view key) {
    const JsonValue* member = find(key);
    if (member == nullptr && object_ != nullptr && !missing_)
        missing_ = describe_at("missing " + quoted_field(key), object_->position);
    return member;
}

void JsonFields::record_wrong(std::string description) {
    if (!wrong_)
        wrong_ = std::move(description);
}

void JsonFields::record_wrong(std::string_view key, std::string_view expected,
                              const JsonValue& found) {
    record_wrong(describe_at(quoted_field(key) + " must be " + std::string(expected) + ", found " +
                                 describe_found(found),
                             found.position));
}

std::string JsonFields::error() const {
    if (wrong_)
        return *wrong_;
    if (missing_)
        return *missing_;
    return {};
}

std::optional<std::int64_t> JsonFields::read_integer(std::string_view key, const JsonValue& value,
                                                     std::int64_t low, std::int64_t high) {
    const bool in_range =
        (value.kind == JsonKind::unsigned_integer &&
         value.unsigned_integer <= static_cast<std::uint64_t>(high)) ||
        (value.kind == JsonKind::negative_integer && value.negative_integer >= low);
    if (!in_range) {
        record_wrong(key, integer_range(low, high), value);
        return std::nullopt;
    }
    return value.kind == JsonKind::unsigned_integer
               ? static_cast<std::int64_t>(value.unsigned_integer)
               : value.negative_integer;
}

std::optional<std::string> JsonFields::read_string(std::string_view key, const JsonValue& value,
                                                   std::string_view expected) {
    if (value.kind != JsonKind::string) {
        record_wrong(key, expected, value);
        return std::nullopt;
    }
    return value.text;
}

std::optional<WideString> JsonFields::read_path(std::string_view key, const JsonValue& value,
                                                std::string_view expected) {
    auto text = read_string(key, value, expected);
    if (!text)
        return std::nullopt;
    if (text->find('\0') != std::string::npos) {
        record_wrong(describe_at(quoted_field(key) + " must not contain U+0000", value.position));
        return std::nullopt;
    }
    return to_wide(*text);
}

std::optional<std::size_t> JsonFields::read_choice(std::string_view key, const JsonValue& value,
                                                   std::initializer_list<std::string_view> words) {
    const auto expected = word_list(words);
    const auto text = read_string(key, value, expected);
    if (!text)
        return std::nullopt;
    const auto found = std::ranges::find(words, *text);
    if (found == words.end()) {
        // The word itself is not repeated: it could be long or hold anything.
        record_wrong(describe_at(quoted_field(key) + " must be " + expected, value.position));
        return std::nullopt;
    }
    return static_cast<std::size_t>(found - words.begin());
}

std::uint32_t JsonFields::required_u32(std::string_view key) {
    const JsonValue* member = required(key);
    if (member == nullptr)
        return 0;
    return static_cast<std::uint32_t>(read_integer(key, *member, 0, kU32Max).value_or(0));
}

std::uint32_t JsonFields::optional_u32(std::string_view key, std::uint32_t fallback) {
    const JsonValue* member = find(key);
    if (member == nullptr)
        return fallback;
    return static_cast<std::uint32_t>(read_integer(key, *member, 0, kU32Max).value_or(fallback));
}

std::int32_t JsonFields::required_i32(std::string_view key) {
    const JsonValue* member = required(key);
    if (member == nullptr)
        return 0;
    return static_cast<std::int32_t>(read_integer(key, *member, kI32Min, kI32Max).value_or(0));
}

std::int32_t JsonFields::optional_i32(std::string_view key, std::int32_t fallback) {
    const JsonValue* member = find(key);
    if (member == nullptr)
        return fallback;
    return static_cast<std::int32_t>(
        read_integer(key, *member, kI32Min, kI32Max).value_or(fallback));
}

std::uint64_t JsonFields::required_u64(std::string_view key) {
    const JsonValue* member = required(key);
    if (member == nullptr)
        return 0;
    // The reader keeps every integer from 0 to 2^64-1 as unsigned; beyond that it is a fraction.
    if (member->kind != JsonKind::unsigned_integer) {
        record_wrong(key, "an integer from 0 to " + std::to_string(kU64Max), *member);
        return 0;
    }
    return member->unsigned_integer;
}

bool JsonFields::required_bool(std::string_view key) {
    if (required(key) == nullptr)
        return false;
    return optional_bool(key, false);
}

bool JsonFields::optional_bool(std::string_view key, bool fallback) {
    const JsonValue* member = find(key);
    if (member == nullptr)
        return fallback;
    if (member->kind != JsonKind::boolean) {
        record_wrong(key, "true or false", *member);
        return fallback;
    }
    return member->boolean;
}

std::string JsonFields::required_string(std::string_view key) {
    const JsonValue* member = required(key);
    if (member == nullptr)
        return {};
    return read_string(key, *member, "a string").value_or(std::string());
}

std::string JsonFields::optional_string(std::string_view key, std::string fallback) {
    const JsonValue* member = find(key);
    if (member == nullptr)
        return fallback;
    return read_string(key, *member, "a string").value_or(std::move(fallback));
}

std::vector<std::string> JsonFields::required_string_list(std::string_view key) {
    if (required(key) == nullptr)
        return {};
    return optional_string_list(key);
}

template <class Item>
std::vector<Item> JsonFields::read_list(std::string_view key,
                                        std::optional<Item> (JsonFields::*read_item)(
                                            std::string_view, const JsonValue&, std::string_view)) {
    const JsonValue* member = find(key);
    if (member == nullptr)
        return {};
    if (member->kind != JsonKind::array) {
        record_wrong(key, "an array of strings", *member);
        return {};
    }
    std::vector<Item> list;
    for (const auto& item : member->items) {
        auto value = (this->*read_item)(key, item, "a string in an array of strings");
        if (!value)
            return {};
        list.push_back(std::move(*value));
    }
    return list;
}

std::vector<std::string> JsonFields::optional_string_list(std::string_view key) {
    return read_list<std::string>(key, &JsonFields::read_string);
}

WideString JsonFields::required_path(std::string_view key) {
    const JsonValue* member = required(key);
    if (member == nullptr)
        return {};
    return read_path(key, *member, "a string").value_or(WideString());
}

WideString JsonFields::optional_path(std::string_view key, WideString fallback) {
    const JsonValue* member = find(key);
    if (member == nullptr)
        return fallback;
    return read_path(key, *member, "a string").value_or(std::move(fallback));
}

std::vector<WideString> JsonFields::optional_path_list(std::string_view key) {
    return read_list<WideString>(key, &JsonFields::read_path);
}

std::size_t JsonFields::required_choice(std::string_view key,
                                        std::initializer_list<std::string_view> words) {
    const JsonValue* member = required(key);
    if (member == nullptr)
        return 0;
    return read_choice(key, *member, words).value_or(0);
}

std::size_t JsonFields::optional_choice(std::string_view key,
                                        std::initializer_list<std::string_view> words,
                                        std::size_t fallback) {
    const JsonValue* member = find(key);
    if (member == nullptr)
        return fallback;
    return read_choice(key, *member, words).value_or(fallback);
}

}  // namespace quarvel
