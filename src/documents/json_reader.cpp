#include "documents/json_reader.h"

#include <nlohmann/json.hpp>

#include <iterator>
#include <optional>
#include <unordered_set>

#include "platform/wide_text.h"

namespace quarvel {
namespace {

// Turns byte offsets into line and column. Offsets arrive in document order, so the counter
// walks forward from the last answer instead of rescanning from the start.
class PositionCounter {
  public:
    explicit PositionCounter(std::string_view source) : source_(source) {}

    JsonPosition at(std::size_t offset) {
        if (offset < offset_)
            *this = PositionCounter(source_);
        for (; offset_ < offset && offset_ < source_.size(); ++offset_) {
            const auto byte = static_cast<unsigned char>(source_[offset_]);
            if (byte == '\n') {
                ++position_.line;
                position_.column = 1;
            } else if ((byte & 0xC0) != 0x80) {
                // UTF-8 continuation bytes belong to the character already counted.
                ++position_.column;
            }
        }
        return position_;
    }

  private:
    std::string_view source_;
    std::size_t offset_ = 0;
    JsonPosition position_;
};

// An input iterator over the document that publishes how many bytes the parser has consumed,
// which is the only way to learn where the SAX events happen.
class CountingIterator {
  public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    CountingIterator(const char* base, const char* at, std::size_t* consumed)
        : base_(base), at_(at), consumed_(consumed) {}

    reference operator*() const { return *at_; }
    CountingIterator& operator++() {
        ++at_;
        *consumed_ = static_cast<std::size_t>(at_ - base_);
        return *this;
    }
    CountingIterator operator++(int) {
        CountingIterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const CountingIterator& other) const { return at_ == other.at_; }

  private:
    const char* base_;
    const char* at_;
    std::size_t* consumed_;
};

// nlohmann's messages read "[json.exception.parse_error.101] parse error at line 1, column 2:
// syntax error ..." or "[json.exception.out_of_range.406] number overflow ...": keep the part
// that says what went wrong; the position is added in this reader's own form. The quoted
// "last read" bytes may hold invalid UTF-8, which no later writer could print.
std::string library_detail(const std::string& message) {
    std::string_view detail = message;
    if (detail.starts_with('[')) {
        const auto end = detail.find("] ");
        if (end != std::string_view::npos)
            detail.remove_prefix(end + 2);
    }
    if (detail.starts_with("parse error")) {
        const auto colon = detail.find(": ");
        if (colon != std::string_view::npos)
            detail.remove_prefix(colon + 2);
    }
    std::string text(detail);
    // "last read" quotes the input since the token began, which can be as long as the longest
    // string of the document: keep only its end.
    constexpr std::string_view kLastRead = "last read: '";
    constexpr std::size_t kKept = 40;
    if (const auto quoted = text.find(kLastRead); quoted != std::string::npos) {
        const std::size_t begin = quoted + kLastRead.size();
        std::size_t end = text.rfind("'; expected ");
        if (end == std::string::npos || end < begin)
            end = text.ends_with('\'') ? text.size() - 1 : begin;
        if (end - begin > kKept)
            text.replace(begin, end - begin - kKept, "...");
    }
    return narrow_lossy(to_wide(text));
}

JsonValue value_of(JsonKind kind) {
    JsonValue value;
    value.kind = kind;
    return value;
}

class TreeBuilder {
  public:
    using json = nlohmann::json;

    TreeBuilder(std::string_view source, const std::size_t* consumed)
        : source_(source), consumed_(consumed), positions_(source) {}

    bool null() { return add_scalar(value_of(JsonKind::null)); }
    bool boolean(bool value) {
        JsonValue scalar = value_of(JsonKind::boolean);
        scalar.boolean = value;
        return add_scalar(std::move(scalar));
    }
    bool number_integer(json::number_integer_t value) {
        // The parser reports 0 and above as unsigned; "-0" is the one non-negative case here.
        if (value >= 0)
            return number_unsigned(static_cast<json::number_unsigned_t>(value));
        JsonValue scalar = value_of(JsonKind::negative_integer);
        scalar.negative_integer = value;
        return add_scalar(std::move(scalar));
    }
    bool number_unsigned(json::number_unsigned_t value) {
        JsonValue scalar = value_of(JsonKind::unsigned_integer);
        scalar.unsigned_integer = value;
        return add_scalar(std::move(scalar));
    }
    bool number_float(json::number_float_t, const json::string_t& written) {
        JsonValue scalar = value_of(JsonKind::fraction);
        scalar.text = written;
        return add_scalar(std::move(scalar));
    }
    bool string(json::string_t& value) {
        JsonValue scalar = value_of(JsonKind::string);
        scalar.text = std::move(value);
        return add_scalar(std::move(scalar));
    }
    bool binary(json::binary_t&) { return fail_here("binary values are not JSON"); }

    bool start_object(std::size_t) { return open(JsonKind::object); }
    bool start_array(std::size_t) { return open(JsonKind::array); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

    bool key(json::string_t& name) {
        const JsonPosition where = token_position();
        if (!keys_.back().insert(name).second)
            return fail("duplicate field `" + name + "`", where);
        JsonMember member;
        member.key = std::move(name);
        member.key_position = where;
        open_.back()->members.push_back(std::move(member));
        return true;
    }

    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception& ex) {
        // `position` counts the offending byte itself.
        const std::size_t offset = position > 0 ? position - 1 : 0;
        return fail(library_detail(ex.what()), positions_.at(offset));
    }

    std::expected<JsonValue, std::string> result() && {
        if (error_)
            return std::unexpected(std::move(*error_));
        return std::move(root_);
    }

  private:
    // The token behind the current event begins at the first byte, among those consumed since
    // the previous value or key, that is neither whitespace, a separator nor a closing bracket:
    // none of those can begin a value or a key. (A number's lookahead byte is consumed with the
    // number; it is always one of them.)
    JsonPosition token_position() {
        std::size_t offset = scan_from_;
        while (offset < *consumed_ && offset < source_.size() &&
               std::string_view(" \t\r\n,:]}").find(source_[offset]) != std::string_view::npos)
            ++offset;
        scan_from_ = *consumed_;
        return positions_.at(offset);
    }

    JsonValue* place(JsonValue value) {
        value.position = token_position();
        if (open_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        JsonValue& parent = *open_.back();
        if (parent.kind == JsonKind::array) {
            parent.items.push_back(std::move(value));
            return &parent.items.back();
        }
        parent.members.back().value = std::move(value);
        return &parent.members.back().value;
    }

    bool add_scalar(JsonValue value) {
        place(std::move(value));
        return true;
    }

    // Pointers to open containers stay valid: only the innermost open container grows.
    bool open(JsonKind kind) {
        if (open_.size() >= kMaxJsonDepth)
            return fail_here("nesting deeper than " + std::to_string(kMaxJsonDepth) + " levels");
        open_.push_back(place(value_of(kind)));
        keys_.emplace_back();
        return true;
    }

    bool close() {
        open_.pop_back();
        keys_.pop_back();
        return true;
    }

    bool fail_here(std::string what) { return fail(std::move(what), token_position()); }

    bool fail(std::string what, JsonPosition where) {
        error_ = describe_at(what, where);
        return false;
    }

    std::string_view source_;
    const std::size_t* consumed_;
    std::size_t scan_from_ = 0;
    PositionCounter positions_;
    JsonValue root_;
    std::vector<JsonValue*> open_;
    std::vector<std::unordered_set<std::string>> keys_;
    std::optional<std::string> error_;
};

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

std::string describe_at(std::string_view what, JsonPosition where) {
    return std::string(what) + " at line " + std::to_string(where.line) + ", column " +
           std::to_string(where.column);
}

std::expected<JsonValue, std::string> read_json_document(std::string_view bytes) {
    // The library skips a byte-order mark silently; documents of this program must not have one.
    if (bytes.starts_with(kByteOrderMark))
        return std::unexpected(describe_at("byte-order mark before the document", JsonPosition{}));
    std::size_t consumed = 0;
    TreeBuilder builder(bytes, &consumed);
    const char* begin = bytes.data();
    nlohmann::json::sax_parse(CountingIterator(begin, begin, &consumed),
                              CountingIterator(begin, begin + bytes.size(), &consumed), &builder);
    auto document = std::move(builder).result();
    // The library takes a NUL byte for the end of the input. Inside a value it still fails (a
    // raw control character in a string, or a value cut short), so a NUL that survives a
    // successful parse stands after the document, where nothing but whitespace may.
    if (const auto nul = bytes.find('\0'); document && nul != std::string_view::npos)
        return std::unexpected(describe_at("unexpected character U+0000 after the document",
                                           PositionCounter(bytes).at(nul)));
    return document;
}

std::string describe_found(const JsonValue& value) {
    switch (value.kind) {
        case JsonKind::null:
            return "null";
        case JsonKind::boolean:
            return value.boolean ? "true" : "false";
        case JsonKind::unsigned_integer:
            return std::to_string(value.unsigned_integer);
        case JsonKind::negative_integer:
            return std::to_string(value.negative_integer);
        case JsonKind::fraction:
            return value.text;
        case JsonKind::string:
            return "a string";
        case JsonKind::array:
            return "an array";
        case JsonKind::object:
            return "an object";
    }
    return "a value";
}

}  // namespace quarvel
