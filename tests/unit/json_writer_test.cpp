#include <gtest/gtest.h>

#include "cli/json_writer.h"

namespace quarvel {
namespace {

TEST(JsonWriter, WritesCompactMembersInOrder) {
    JsonWriter writer;
    writer.begin_object()
        .key("version")
        .unsigned_number(1)
        .key("list")
        .begin_array()
        .string("a")
        .string("b")
        .end_array()
        .key("empty")
        .begin_array()
        .end_array()
        .key("nested")
        .begin_object()
        .key("n")
        .signed_number(-5)
        .end_object()
        .key("flag")
        .boolean(false)
        .end_object();
    EXPECT_EQ(std::move(writer).finish().value(),
              R"({"version":1,"list":["a","b"],"empty":[],"nested":{"n":-5},"flag":false})");
}

TEST(JsonWriter, PathWithUnpairedSurrogateCannotBeWritten) {
    WideString path = to_wide("C:\\x");
    path.push_back(static_cast<WCHAR>(0xDC00));
    JsonWriter writer;
    writer.begin_object().key("cwd").path(path).end_object();
    const auto written = std::move(writer).finish();
    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(written.error(), "path contains invalid UTF-8 characters");
}

TEST(JsonWriter, PathIsWrittenAsUtf8) {
    JsonWriter writer;
    writer.path(to_wide("C:\\Users\\Zoë"));
    EXPECT_EQ(std::move(writer).finish().value(), "\"C:\\\\Users\\\\Zoë\"");
}

TEST(WideText, RoundTripsAndReplacesUnpairedSurrogates) {
    const std::string text = "a\xC3\xA9\xE2\x9C\x93\xF0\x9D\x84\x9E";
    EXPECT_EQ(narrow_lossy(to_wide(text)), text);
    EXPECT_EQ(to_wide("\xF0\x9D\x84\x9E").size(), 2u);
    WideString lone{static_cast<WCHAR>('x'), static_cast<WCHAR>(0xDBFF)};
    EXPECT_EQ(narrow_lossy(lone), "x\xEF\xBF\xBD");
    EXPECT_FALSE(narrow_strict(lone).has_value());
    EXPECT_EQ(narrow_lossy(to_wide("\xFF")), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace quarvel
