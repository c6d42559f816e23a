#include <gtest/gtest.h>

#include <string>

#include "platform/wide_text.h"

namespace quarvel {
namespace {

WideString units(std::initializer_list<char16_t> list) {
    WideString text;
    for (char16_t unit : list)
        text += static_cast<WCHAR>(unit);
    return text;
}

TEST(ToWide, EncodesEveryUtf8LengthAndSurrogatePairs) {
    EXPECT_EQ(to_wide("a\u00E9\u4E2D\U0001F600"), units({u'a', 0x00E9, 0x4E2D, 0xD83D, 0xDE00}));
    EXPECT_EQ(to_wide("\U0010FFFF"), units({0xDBFF, 0xDFFF}));
    EXPECT_EQ(to_wide(""), WideString());
}

TEST(ToWide, EndsWithOneZeroUnitForWindows) {
    const WideString text = to_wide("abc");
    EXPECT_EQ(text.size(), 3u);
    EXPECT_EQ(text.c_str()[3], WCHAR{0});
}

TEST(ToWide, KeepsAnInteriorNulWhereWindowsWillStopReading) {
    const WideString text = to_wide(std::string("ab\0cd", 5));
    EXPECT_EQ(text.size(), 5u);
    EXPECT_EQ(std::char_traits<WCHAR>::length(text.c_str()), 2u);
}

TEST(ToWide, ReplacesEachByteOfInvalidUtf8) {
    const WCHAR replacement = static_cast<WCHAR>(0xFFFD);
    const struct {
        std::string bytes;
        WideString wide;
    } cases[] = {
        {"\xFF", units({0xFFFD})},
        {"a\x80z", units({u'a', 0xFFFD, u'z'})},
        {"\xC0\xAF", units({0xFFFD, 0xFFFD})},                          // overlong "/"
        {"\xED\xA0\x80", units({0xFFFD, 0xFFFD, 0xFFFD})},              // encoded surrogate
        {"\xF4\x90\x80\x80", units({0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD})},  // above U+10FFFF
        {"\xE2\x82", units({0xFFFD, 0xFFFD})},                          // cut short
    };
    for (const auto& c : cases)
        EXPECT_EQ(to_wide(c.bytes), c.wide) << c.bytes;
    EXPECT_EQ(to_wide("\xE2\x82\xAC"), WideString(1, static_cast<WCHAR>(0x20AC)));
    EXPECT_NE(to_wide("\xE2\x82\xAC")[0], replacement);
}

TEST(NarrowText, UnpairedSurrogatesAreReplacedOrRefused) {
    const WideString lone = units({u'a', 0xD800, u'b', 0xDC00});
    EXPECT_EQ(narrow_lossy(lone), "a\uFFFDb\uFFFD");
    EXPECT_EQ(narrow_strict(lone), std::nullopt);
    EXPECT_EQ(narrow_strict(units({0xD83D, 0xDE00})), "\U0001F600");
    EXPECT_EQ(narrow_lossy(to_wide("S-1-5-\u00E9")), "S-1-5-\u00E9");
}

}  // namespace
}  // namespace quarvel
