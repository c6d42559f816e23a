#include <gtest/gtest.h>

#include <string>

#include "platform/utf8_error.h"

namespace quarvel {
namespace {

TEST(Utf8ErrorDescription, NamesTheFirstInvalidSequenceByItsStartAndLength) {
    struct Row {
        std::string bytes;
        const char* description;  // null: valid
    } rows[] = {
        {"", nullptr},
        {"plain ascii", nullptr},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", nullptr},  // é € 😀
        {"ab\xFF", "invalid utf-8 sequence of 1 bytes from index 2"},
        {"\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
        {"\xC0\xAF", "invalid utf-8 sequence of 1 bytes from index 0"},          // overlong
        {"a\xE0\x80\x80", "invalid utf-8 sequence of 1 bytes from index 1"},     // overlong
        {"\xED\xA0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},      // surrogate
        {"\xF4\x90\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},  // > U+10FFFF
        {"x\xE2\x82z", "invalid utf-8 sequence of 2 bytes from index 1"},
        {"\xF0\x9F\x98z", "invalid utf-8 sequence of 3 bytes from index 0"},
        {"ok\xE2\x82", "incomplete utf-8 byte sequence from index 2"},
        {"\xF0", "incomplete utf-8 byte sequence from index 0"},
        {"\xC3\xA9\xC3", "incomplete utf-8 byte sequence from index 2"},
    };
    for (const auto& row : rows) {
        const auto description = utf8_error_description(row.bytes);
        if (row.description == nullptr)
            EXPECT_FALSE(description) << *description;
        else
            EXPECT_EQ(description.value_or("<valid>"), row.description);
    }
}

}  // namespace
}  // namespace quarvel
