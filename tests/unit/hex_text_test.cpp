#include <gtest/gtest.h>

#include <array>
#include <cstdint>

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

}  // namespace
}  // namespace quarvel
