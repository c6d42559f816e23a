#pragma once
// Output that the relay's scanning shortcuts could get wrong, and the byte-by-byte rules they
// must agree with: every ASCII control character, quote, backslash, DEL, characters of two to
// four bytes, invalid bytes and surrogates encoded in UTF-8, each at every position of a
// sixteen-byte block.

#include <string>
#include <string_view>
#include <vector>

#include "platform/wide_text.h"

namespace quarvel::testing {

inline std::vector<std::string> tricky_samples() {
    std::vector<std::string> samples = {
        "\"", "\\", "\x7F", "/", "\xC3\xA9", "\xE2\x82\xAC", "\xEF\xBF\xBF", "\xEE\x80\x80",
        "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF",
        // not UTF-8: a stray continuation, overlong forms, an encoded surrogate, beyond U+10FFFF,
        // a byte that starts nothing, characters cut short
        "\x80", "\xC0\xAF", "\xE0\x80\x80", "\xED\xA0\x80", "\xED\xBF\xBF", "\xF4\x90\x80\x80",
        "\xFF", "\xE2\x82", "\xF0\x9F\x98"};
    for (int byte = 0; byte < 0x20; ++byte)
        samples.emplace_back(1, static_cast<char>(byte));
    return samples;
}

// Each sample with 0 to 33 ASCII letters before it and some after, so that it meets every
// position of a block and the scans' byte-by-byte tails.
inline std::vector<std::string> tricky_texts() {
    std::vector<std::string> texts;
    std::string all;
    for (const auto& sample : tricky_samples()) {
        all += sample;
        for (std::size_t before = 0; before <= 33; ++before)
            texts.push_back(std::string(before, 'a') + sample + std::string(before % 19, 'z'));
    }
    texts.push_back(all);
    texts.emplace_back();
    texts.emplace_back(40, '\x01');  // every byte escaped to its longest form

    return texts;
}

// The escaping rule, one byte at a time, for texts that are valid UTF-8.
inline std::string escaped_bytewise(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const std::string_view named = byte == '"'    ? "\\\""
                                       : byte == '\\' ? "\\\\"
                                       : byte == '\b' ? "\\b"
                                       : byte == '\t' ? "\\t"
                                       : byte == '\n' ? "\\n"
                                       : byte == '\f' ? "\\f"
                                       : byte == '\r' ? "\\r"
                                                      : "";
        if (!named.empty())
            out += named;
        else if (byte < 0x20)
            out += std::string("\\u00") + kHex[byte >> 4] + kHex[byte & 0x0F];
        else
            out += c;
    }
    return out;
}

// The number of leading bytes that are whole valid characters, one character at a time.
inline std::size_t valid_prefix_by_characters(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t next = at;
        if (!next_utf8_character(text, next))
            break;
        at = next;
    }
    return at;
}

}  // namespace quarvel::testing
