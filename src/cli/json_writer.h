#pragma once
// Compact JSON output with the one string escaping rule every document of the program shares.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wide_text.h"

namespace quarvel {

// Appends `text` as a JSON string: quote and backslash escaped, \b \t \n \f \r for those
// controls, \u00xx (lower-case hex) for every other character below U+0020, everything else
// (slash, U+007F, non-ASCII) as its UTF-8 bytes. Returns false, leaving `out` unchanged, when
// `text` is not valid UTF-8.
bool append_json_string(std::string& out, std::string_view text);

// The same escaping applied byte by byte, without checking UTF-8: for the last-resort error line.
void append_json_string_unchecked(std::string& out, std::string_view text);

// The same escaping without the quotes and without checking UTF-8: for a string whose contents
// are built in place from text known to be valid.
void append_json_escaped(std::string& out, std::string_view text);

// Builds one compact document. Members come out in the order they are written; the first error
// (text that cannot be written) is kept and reported by `finish`.
class JsonWriter {
  public:
    JsonWriter& begin_object();
    JsonWriter& end_object();
    JsonWriter& begin_array();
    JsonWriter& end_array();
    JsonWriter& key(std::string_view name);
    JsonWriter& string(std::string_view utf8);
    // A native path, converted to UTF-8; one with an unpaired surrogate cannot be written.
    JsonWriter& path(WideView native);
    JsonWriter& unsigned_number(std::uint64_t value);
    JsonWriter& signed_number(std::int64_t value);
    JsonWriter& boolean(bool value);

    // The document, or the writer's description of what could not be written.
    std::expected<std::string, std::string> finish() &&;

  private:
    void before_value();

    std::string out_;
    std::vector<bool> first_in_container_;
    bool after_key_ = false;
    std::string error_;
};

}  // namespace quarvel
