// The block-at-a-time scans give what a byte-by-byte reading gives, wherever in a block the
// byte that stops them stands.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/json_writer.h"
#include "platform/utf8_scan.h"
#include "support/tricky_text.h"

namespace quarvel {
namespace {

std::vector<std::size_t> json_specials_bytewise(std::string_view text) {
    std::vector<std::size_t> positions;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x20 || byte == '"' || byte == '\\')
            positions.push_back(at);
    }
    return positions;
}

std::vector<std::size_t> json_specials(std::string_view text) {
    std::vector<std::size_t> positions;
    JsonSpecialBytes specials(text);
    for (std::size_t at = specials.next(); at < text.size(); at = specials.next())
        positions.push_back(at);
    EXPECT_EQ(specials.next(), text.size());  // and stays at the end
    return positions;
}

TEST(Utf8Scan, PrefixesAgreeWithByteByByteReadingAtEveryPositionOfABlock) {
    for (const auto& text : testing::tricky_texts()) {
        EXPECT_EQ(valid_utf8_prefix(text), testing::valid_prefix_by_characters(text)) << text;
        EXPECT_EQ(json_specials(text), json_specials_bytewise(text)) << text;
    }
    // Every byte value alone, and after a block's worth of letters.
    for (int byte = 0; byte < 256; ++byte) {
        for (const std::string& text : {std::string(1, static_cast<char>(byte)),
                                        std::string(16, 'q') + static_cast<char>(byte)}) {
            EXPECT_EQ(valid_utf8_prefix(text), testing::valid_prefix_by_characters(text)) << byte;
            EXPECT_EQ(json_specials(text), json_specials_bytewise(text)) << byte;
        }
    }
}

// `before`, then the text escaped byte by byte, then a closing quote.
std::string quoted_escape(std::string_view text, std::string before) {
    return before.append(testing::escaped_bytewise(text)).append("\"");
}

TEST(JsonStringWriting, EscapesByteIdenticallyAndRefusesInvalidTextUnchanged) {
    for (const auto& text : testing::tricky_texts()) {
        std::string out = "prefix";
        const bool valid = testing::valid_prefix_by_characters(text) == text.size();
        EXPECT_EQ(append_json_string(out, text), valid) << text;
        EXPECT_EQ(out, valid ? quoted_escape(text, "prefix\"") : "prefix");
        // The last-resort form copies what it cannot check.
        std::string unchecked;
        append_json_string_unchecked(unchecked, text);
        EXPECT_EQ(unchecked, quoted_escape(text, "\"")) << text;
    }
}

}  // namespace
}  // namespace quarvel
