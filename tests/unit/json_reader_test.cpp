#include <gtest/gtest.h>

#include <string>

#include "documents/json_fields.h"
#include "documents/json_reader.h"

namespace quarvel {
namespace {

struct Sample {
    std::uint32_t number = 0;
    std::string name;
};

// A small document type: "number" (u32, required) and "name" (string, default "x").
std::expected<Sample, std::string> read_sample(std::string_view text,
                                               UnknownKeys unknown = UnknownKeys::reject) {
    const auto document = read_json_document(text);
    if (!document)
        return std::unexpected(document.error());
    JsonFields fields(*document, {"number", "name"}, unknown);
    Sample sample;
    sample.number = fields.required_u32("number");
    sample.name = fields.optional_string("name", "x");
    return fields.finish(sample);
}

struct Rejected {
    std::string text;
    std::string description;
};

TEST(JsonReader, RejectionsNameTheProblemTheFieldAndThePosition) {
    const std::vector<Rejected> cases = {
        {R"({"number":1,"foo":2})", "unknown field `foo` at line 1, column 13"},
        {"{\n  \"number\": 1,\n  \"number\": 2\n}", "duplicate field `number` at line 3, column 3"},
        {R"(  {"name":"a"})", "missing field `number` at line 1, column 3"},
        {R"({"number":null})",
         "field `number` must be an integer from 0 to 4294967295, found null "
         "at line 1, column 11"},
        {R"({"number":-1})",
         "field `number` must be an integer from 0 to 4294967295, found -1 at "
         "line 1, column 11"},
        {R"({"number":2.0})",
         "field `number` must be an integer from 0 to 4294967295, found 2.0 "
         "at line 1, column 11"},
        {R"({"number":4294967296})",
         "field `number` must be an integer from 0 to 4294967295, "
         "found 4294967296 at line 1, column 11"},
        {R"({"number":"1"})",
         "field `number` must be an integer from 0 to 4294967295, found a "
         "string at line 1, column 11"},
        {R"({"number":1,"name":null})",
         "field `name` must be a string, found null at line 1, "
         "column 20"},
        {"\xEF\xBB\xBF{\"number\":1}", "byte-order mark before the document at line 1, column 1"},
        {"[1]", "expected an object, found an array at line 1, column 1"},
    };
    for (const auto& rejected : cases) {
        const auto read = read_sample(rejected.text);
        ASSERT_FALSE(read.has_value()) << rejected.text;
        EXPECT_EQ(read.error(), rejected.description) << rejected.text;
    }
}

TEST(JsonReader, SyntaxErrorsCarryTheLibraryDetailAndThePosition) {
    const std::vector<Rejected> cases = {
        {"{\"number\":1}\n{\"number\":2}",
         "syntax error while parsing value - unexpected '{'; expected end of input at line 2, "
         "column 1"},
        {"{\"number\":1,}",
         "syntax error while parsing object key - unexpected '}'; expected "
         "string literal at line 1, column 13"},
        {"",
         "syntax error while parsing value - unexpected end of input; expected '[', '{', or a "
         "literal at line 1, column 1"},
    };
    for (const auto& rejected : cases) {
        const auto read = read_json_document(rejected.text);
        ASSERT_FALSE(read.has_value()) << rejected.text;
        EXPECT_EQ(read.error(), rejected.description) << rejected.text;
    }
}

TEST(JsonReader, InvalidUtf8InsideAStringIsRejectedAtItsPositionAsValidText) {
    const auto read = read_json_document("{\"name\":\"ab\xC3(\"}");
    ASSERT_FALSE(read.has_value());
    // Found at the byte that cannot continue the sequence begun by \xC3.
    EXPECT_TRUE(read.error().ends_with("at line 1, column 13")) << read.error();
    EXPECT_NE(read.error().find("UTF-8"), std::string::npos) << read.error();
    // The description is printed inside JSON later, so it must itself be valid UTF-8.
    EXPECT_EQ(narrow_lossy(to_wide(read.error())), read.error());
}

TEST(JsonReader, LongInputQuotedByASyntaxErrorIsShortened) {
    const std::string text = "[\"" + std::string(100000, 'a') + "\"x]";
    const auto read = read_json_document(text);
    ASSERT_FALSE(read.has_value());
    EXPECT_LT(read.error().size(), 300u) << read.error();
    EXPECT_NE(read.error().find("...aaaa"), std::string::npos) << read.error();
    EXPECT_TRUE(read.error().ends_with("at line 1, column 100004")) << read.error();
}

TEST(JsonReader, ColumnsCountCharactersNotBytes) {
    const auto read = read_sample(R"({"name":"äöü","foo":1})");
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error(), "unknown field `foo` at line 1, column 15");
}

TEST(JsonReader, AcceptsSurroundingJsonWhitespaceAndAppliesDefaults) {
    const auto read = read_sample(" \t\r\n{\"number\":4294967295}\r\n \t");
    ASSERT_TRUE(read.has_value()) << read.error();
    EXPECT_EQ(read->number, 4294967295u);
    EXPECT_EQ(read->name, "x");
}

TEST(JsonReader, OtherWhitespaceAroundTheValueIsRejected) {
    for (const std::string text : {"\v{\"number\":1}", "{\"number\":1}\f"}) {
        EXPECT_FALSE(read_json_document(text).has_value());
    }
    const auto after_nul = read_json_document(std::string("{\"number\":1} \0 {}", 16));
    ASSERT_FALSE(after_nul.has_value());
    EXPECT_EQ(after_nul.error(),
              "unexpected character U+0000 after the document at line 1, column 14");
    EXPECT_FALSE(read_json_document(std::string("{\"name\":\"a\0\"}", 13)).has_value());
}

TEST(JsonReader, IgnoredUnknownKeysStillMayNotRepeat) {
    EXPECT_TRUE(read_sample(R"({"number":1,"extra":{"deep":[1,2]}})", UnknownKeys::ignore));
    const auto read = read_sample(R"({"number":1,"extra":1,"extra":2})", UnknownKeys::ignore);
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error(), "duplicate field `extra` at line 1, column 23");
}

TEST(JsonReader, WrongMemberIsReportedBeforeAMissingOne) {
    // "number" is missing, but the wrong "name" was read first.
    const auto read = read_sample(R"({"name":5})");
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error(), "field `name` must be a string, found 5 at line 1, column 9");
}

TEST(JsonReader, DeepNestingIsRefusedInsteadOfExhaustingTheStack) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const auto read = read_json_document(deep);
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error(), "nesting deeper than 128 levels at line 1, column 129");
    EXPECT_TRUE(read_json_document(std::string(128, '[') + std::string(128, ']')).has_value());
}

TEST(JsonReader, PositionsOfNestedValuesAndKeys) {
    const auto read = read_json_document("{\n \"a\": [1, \"x\", {\"b\": -2}],\n \"c\": 0.5}");
    ASSERT_TRUE(read.has_value()) << read.error();
    const auto& members = read->members;
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(members[0].key_position, (JsonPosition{2, 2}));
    const auto& items = members[0].value.items;
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(members[0].value.position, (JsonPosition{2, 7}));
    EXPECT_EQ(items[0].position, (JsonPosition{2, 8}));
    EXPECT_EQ(items[1].position, (JsonPosition{2, 11}));
    EXPECT_EQ(items[2].position, (JsonPosition{2, 16}));
    EXPECT_EQ(items[2].members[0].value.kind, JsonKind::negative_integer);
    EXPECT_EQ(items[2].members[0].value.negative_integer, -2);
    EXPECT_EQ(members[1].key_position, (JsonPosition{3, 2}));
    EXPECT_EQ(members[1].value.kind, JsonKind::fraction);
    EXPECT_EQ(members[1].value.text, "0.5");
}

struct Ranged {
    std::int32_t signed_value = 0;
    bool flag = false;
    std::vector<WideString> paths;
    std::size_t mode = 0;
};

std::expected<Ranged, std::string> read_ranged(std::string_view text) {
    const auto document = read_json_document(text);
    if (!document)
        return std::unexpected(document.error());
    JsonFields fields(*document, {"i", "flag", "paths", "mode"}, UnknownKeys::reject);
    Ranged ranged;
    ranged.signed_value = fields.optional_i32("i", 7);
    ranged.flag = fields.optional_bool("flag", false);
    ranged.paths = fields.optional_path_list("paths");
    ranged.mode = fields.optional_choice("mode", {"enabled", "disabled"}, 0);
    return fields.finish(ranged);
}

TEST(JsonFields, SignedRangeBooleansPathListsAndWords) {
    const auto read =
        read_ranged(R"({"i":-2147483648,"flag":true,"paths":["C:\\a","b"],"mode":"disabled"})");
    ASSERT_TRUE(read.has_value()) << read.error();
    EXPECT_EQ(read->signed_value, -2147483648);
    EXPECT_TRUE(read->flag);
    EXPECT_EQ(read->paths, (std::vector<WideString>{to_wide("C:\\a"), to_wide("b")}));
    EXPECT_EQ(read->mode, 1u);

    const std::vector<Rejected> cases = {
        {R"({"i":2147483648})",
         "field `i` must be an integer from -2147483648 to 2147483647, "
         "found 2147483648 at line 1, column 6"},
        {R"({"i":-2147483649})",
         "field `i` must be an integer from -2147483648 to 2147483647, "
         "found -2147483649 at line 1, column 6"},
        {R"({"i":1e2})",
         "field `i` must be an integer from -2147483648 to 2147483647, found 1e2 "
         "at line 1, column 6"},
        {R"({"flag":1})", "field `flag` must be true or false, found 1 at line 1, column 9"},
        {R"({"paths":null})",
         "field `paths` must be an array of strings, found null at line 1, "
         "column 10"},
        {R"({"paths":["a",3]})",
         "field `paths` must be a string in an array of strings, found 3 "
         "at line 1, column 15"},
        {R"({"paths":["a\u0000b"]})",
         "field `paths` must not contain U+0000 at line 1, "
         "column 11"},
        {R"({"mode":"Enabled"})",
         "field `mode` must be one of \"enabled\", \"disabled\" at line "
         "1, column 9"},
    };
    for (const auto& rejected : cases) {
        const auto outcome = read_ranged(rejected.text);
        ASSERT_FALSE(outcome.has_value()) << rejected.text;
        EXPECT_EQ(outcome.error(), rejected.description) << rejected.text;
    }
}

}  // namespace
}  // namespace quarvel
