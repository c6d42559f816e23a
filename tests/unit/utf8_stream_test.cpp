// Decoding output that arrives in pieces: split characters are completed, invalid bytes become
// one U+FFFD per maximal invalid subpart, an unfinished character at the end becomes U+FFFD.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "windows/process/utf8_stream.h"

namespace quarvel {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

std::string decode_in_pieces(const std::vector<std::string>& pieces) {
    Utf8Stream stream;
    std::string text;
    for (const auto& piece : pieces) {
        text += stream.decode(piece);
        EXPECT_LE(stream.held(), Utf8Stream::kMaxHeld);
    }
    return text + stream.finish();
}

TEST(Utf8Stream, CharacterSplitAtAnyPointArrivesWhole) {
    const std::string samples[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xED\x9F\xBF", "\xF0\x9F\x98\x80",
                                   "\xF4\x8F\xBF\xBF"};
    for (const auto& character : samples) {
        const std::string text = "a" + character + "b";
        for (std::size_t cut = 1; cut < text.size(); ++cut)
            EXPECT_EQ(decode_in_pieces({text.substr(0, cut), text.substr(cut)}), text) << cut;
        // One byte at a time.
        std::vector<std::string> bytes;
        for (char c : text)
            bytes.emplace_back(1, c);
        EXPECT_EQ(decode_in_pieces(bytes), text);
    }
}

TEST(Utf8Stream, InvalidBytesBecomeOneReplacementPerMaximalSubpart) {
    struct Case {
        std::string bytes;
        std::string text;
    } cases[] = {
        {"f\xFFg", "f" + kFffd + "g"},
        {"\x80", kFffd},
        {"\xC0\xAF", kFffd + kFffd},                          // overlong lead
        {"\xE0\x80\x80", kFffd + kFffd + kFffd},              // overlong three-byte
        {"\xED\xA0\x80", kFffd + kFffd + kFffd},              // surrogate
        {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},  // above U+10FFFF
        {"\xE2\x82x", kFffd + "x"},                           // truncated then ASCII
        {"\xF0\x9F\x98"
         "a",
         kFffd + "a"},
        {"\xF5", kFffd},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decode_in_pieces({c.bytes}), c.text);
        // The same bytes split anywhere decode the same way.
        for (std::size_t cut = 1; cut < c.bytes.size(); ++cut)
            EXPECT_EQ(decode_in_pieces({c.bytes.substr(0, cut), c.bytes.substr(cut)}), c.text);
    }
}

TEST(Utf8Stream, UnfinishedCharacterAtTheEndBecomesOneReplacement) {
    Utf8Stream stream;
    EXPECT_EQ(stream.decode("ok\xF0\x9F"), "ok");
    EXPECT_EQ(stream.held(), 2u);
    EXPECT_EQ(stream.finish(), kFffd);
    EXPECT_EQ(stream.held(), 0u);
    EXPECT_EQ(stream.finish(), "");
}

}  // namespace
}  // namespace quarvel
