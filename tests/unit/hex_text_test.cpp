#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "windows/setup/hex_text.h"

namespace quarvel {
namespace {

TEST(EncodeHex, EachByteBecomesTwoLowercaseDigitsInOrder) {
    const std::array<std::uint8_t, 3> bytes{0x00, 0x0f, 0xab};
    EXPECT_EQ(encode_hex(bytes), "000fab");
    const std::array<std::uint8_t, 2> high{0xff, 0x10};
    EXPECT_EQ(encode_hex(high), "ff10");
    EXPECT_EQ(encode_hex({}), "");
}

TEST(DecodeHex, EitherCaseGivesTheSameBytesAndEncodingRoundTrips) {
    const std::vector<std::uint8_t> bytes{0x00, 0x0f, 0xab, 0xcd, 0xef, 0x10};
    EXPECT_EQ(decode_hex("000fabcdef10"), bytes);
    EXPECT_EQ(decode_hex("000FABCDEF10"), bytes);
    EXPECT_EQ(decode_hex("000fAbCdEf10"), bytes);
    EXPECT_EQ(decode_hex(encode_hex(bytes)), bytes);
    EXPECT_EQ(decode_hex(""), std::vector<std::uint8_t>{});
}

TEST(DecodeHex, OddLengthOrAnyCharacterOutsideTheDigitsGivesNothing) {
    const char* rows[] = {"abcde", "0",    "0g",         "g0",       "00 1", " 001",
                          "0011 ", "0x11", "00\xc3\xa9", "\xc3\xa9", "+1",   "1-"};
    for (const char* row : rows)
        EXPECT_FALSE(decode_hex(row)) << row;
}

}  // namespace
}  // namespace quarvel
