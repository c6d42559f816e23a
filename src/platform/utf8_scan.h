#pragma once
// Finding, sixteen bytes at a time, the runs of text that need no work character by
// character. A command's output is mostly such runs, and every piece of it is validated,
// escaped, unescaped and validated again on its way to the host.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quarvel {

// The Unicode standard's well-formed UTF-8 sequences (table 3-7): the lead byte fixes the
// length and the range of the second byte; later bytes are 80..BF. A length of 0 marks a byte
// that starts no sequence.
struct Utf8SequenceShape {
    std::size_t length = 0;
    std::uint8_t second_low = 0x80;
    std::uint8_t second_high = 0xBF;
};
Utf8SequenceShape utf8_sequence_shape(std::uint8_t lead);

// The length of the longest prefix of `text` made of whole, well-formed UTF-8 characters
// (shortest form, no surrogates, nothing above U+10FFFF): `text.size()` when it all is.
std::size_t valid_utf8_prefix(std::string_view text);

// The length of the longest prefix of `text` that a JSON string holds as it is: no quotation
// mark, no backslash, no byte below 0x20. Bytes from 0x80 up count as plain; whether they form
// valid UTF-8 is valid_utf8_prefix's business.
std::size_t json_plain_prefix(std::string_view text);

}  // namespace quarvel
