#pragma once
// Finding, sixteen bytes at a time, the bytes of text that need work character by character.
// A command's output is mostly long runs that need none, and every piece of it is validated,
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

// The positions, in order, of the bytes that a JSON string cannot hold as they are: quotation
// mark, backslash and every byte below 0x20. Bytes from 0x80 up are not among them; whether
// they form valid UTF-8 is valid_utf8_prefix's business. Each block of the text is examined
// once, however many such bytes it holds.
class JsonSpecialBytes {
  public:
    explicit JsonSpecialBytes(std::string_view text);

    // The next position, or the text's size once there is none.
    std::size_t next();

  private:
    std::string_view text_;
    std::size_t block_ = 0;  // the sixteen bytes from here are the block being given out
    std::uint32_t marks_;    // bit k: byte k of that block is special and not given out yet
};

}  // namespace quarvel
