#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "windows/security/secure_random.h"

namespace quarvel {
namespace {

TEST(SecureRandomHex, SixteenBytesGiveThirtyTwoLowercaseHexDigits) {
    const auto text = secure_random_hex(16);
    ASSERT_TRUE(text.has_value()) << text.error().message;
    EXPECT_EQ(text->size(), 32u);
    EXPECT_EQ(text->find_first_not_of("0123456789abcdef"), std::string::npos) << *text;
}

TEST(SecureRandomHex, TwoValuesDiffer) {
    const auto first = secure_random_hex(24);
    const auto second = secure_random_hex(24);
    ASSERT_TRUE(first.has_value() && second.has_value());
    EXPECT_EQ(first->size(), 48u);
    EXPECT_NE(*first, *second);
}

TEST(SecureRandomHex, EveryByteValueKeepsBothDigits) {
    // Over many draws every digit shows up in both positions of a byte; a byte written as
    // one digit (0x0a as "a") would make the length come out short.
    const auto text = secure_random_hex(4096);
    ASSERT_TRUE(text.has_value());
    ASSERT_EQ(text->size(), 8192u);
    for (char digit : std::string("0123456789abcdef")) {
        bool high = false, low = false;
        for (std::size_t k = 0; k < text->size(); k += 2) {
            high = high || (*text)[k] == digit;
            low = low || (*text)[k + 1] == digit;
        }
        EXPECT_TRUE(high && low) << digit;
    }
}

TEST(SecureRandomHex, RefusesALengthTheGeneratorCannotTakeWhole) {
    const std::size_t too_long = std::size_t{std::numeric_limits<std::uint32_t>::max()} + 1;
    const auto text = secure_random_hex(too_long);
    ASSERT_FALSE(text.has_value());
    EXPECT_EQ(text.error().code, "random_generation_failed");
    EXPECT_EQ(text.error().message, "Could not generate secure random value: -1073741811.");
    EXPECT_EQ(text.error().exit_code, 70);
}

}  // namespace
}  // namespace quarvel
