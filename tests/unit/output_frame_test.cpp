// Output frames on their short roads: built straight from the bytes read on the worker's side,
// read without a document tree on the runner's. Both must give, byte for byte and error text
// for error text, what the general writer and reader give.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/tricky_text.h"
#include "windows/channel/plain_output_frame.h"
#include "windows/channel/worker_frame.h"
#include "windows/process/output_forwarding.h"

namespace quarvel {
namespace {

// Decodes `pieces` in turn both ways: as text, written as frames by the general writer, and
// straight into frame bodies; the two must be the same bytes.
void expect_bodies_match_general_writer(const std::vector<std::string>& pieces) {
    Utf8Stream as_text;
    Utf8Stream in_place;
    for (const auto& piece : pieces) {
        const std::string text = as_text.decode(piece);
        const std::string body = output_frame_body(OutputStream::standard_error, in_place, piece);
        if (text.empty()) {
            EXPECT_EQ(body, "");
            continue;
        }
        const auto written = write_worker_frame(frame::Stderr{text});
        ASSERT_TRUE(written);
        EXPECT_EQ(body, *written) << piece;
    }
    EXPECT_EQ(as_text.held(), in_place.held());
}

TEST(OutputFrameBody, IsWhatTheGeneralWriterWritesForTheDecodedText) {
    for (const auto& text : testing::tricky_texts())
        expect_bodies_match_general_writer({text});
    // A character split at the end of a full 8,192-byte read, at each of its bytes, and an
    // incomplete one that the next piece breaks off.
    for (const std::string character : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
        for (std::size_t cut = 1; cut < character.size(); ++cut) {
            const std::string first = std::string(8192 - cut, '\n') + character.substr(0, cut);
            expect_bodies_match_general_writer({first, character.substr(cut) + "\"tail"});
            expect_bodies_match_general_writer(
                {first, std::string("\x01").append(character.substr(cut))});
        }
    }
}

TEST(PlainOutputFrame, ReadsEveryWrittenOutputFrameAsTheGeneralReaderDoes) {
    for (const auto& text : testing::tricky_texts()) {
        for (const WorkerFrame& frame :
             {WorkerFrame(frame::Stdout{text}), WorkerFrame(frame::Stderr{text})}) {
            const auto body = write_worker_frame(frame);
            if (!body)
                continue;  // not UTF-8: no frame carries it
            const auto plain = read_plain_output_frame(*body);
            ASSERT_TRUE(plain) << *body;
            EXPECT_EQ(*plain, frame);
            EXPECT_EQ(parse_worker_frame_generally(*body), frame);
        }
    }
}

TEST(PlainOutputFrame, HandsEveryOtherBodyToTheGeneralReaderOrAgreesWithIt) {
    const struct {
        std::string body;
        bool plain;  // taken by the short road
    } cases[] = {
        {R"({"type":"stdout","data":"\u0000\u001F\u00e9\u20AC\uFFFF\/\"\\\b\f\n\r\t"})", true},
        {R"({"type":"stderr","data":""})", true},
        {R"({"type":"stdout","data":"\ud83d\ude00"})", false},  // a pair of escapes
        {"{\"type\":\"stdout\",\"data\":\"a\"}\n", false},
        {R"({"data":"a","type":"stdout"})", false},
        {R"({"type":"stdout","data":"a","more":1})", false},
        {R"({"type":"stdout", "data":"a"})", false},
        {R"({"type":"progress","stage":"a"})", false},
    };
    for (const auto& c : cases) {
        const auto plain = read_plain_output_frame(c.body);
        EXPECT_EQ(plain.has_value(), c.plain) << c.body;
        const auto general = parse_worker_frame_generally(c.body);
        ASSERT_TRUE(general) << c.body << ": " << general.error();
        if (plain) {
            EXPECT_EQ(*plain, *general) << c.body;
        }
        EXPECT_EQ(parse_worker_frame(c.body), general) << c.body;
    }
}

TEST(PlainOutputFrame, BodiesItCannotReadKeepTheGeneralReadersErrorAndPosition) {
    const struct {
        std::string body;
        std::string error;
    } cases[] = {
        {"{\"type\":\"stdout\",\"data\":\"ab\x01\"}",
         "syntax error while parsing value - invalid string: control character U+0001 (SOH) "
         "must be escaped to \\u0001; last read: '\"ab<U+0001>' at line 1, column 28"},
        {"{\"type\":\"stdout\",\n\"data\":\"\xC3\xA4\xC3\xB6\x1F\"}",
         "syntax error while parsing value - invalid string: control character U+001F (US) "
         "must be escaped to \\u001F; last read: '\"\xC3\xA4\xC3\xB6<U+001F>' at line 2, column "
         "11"},
        {"{\"type\":\"stdout\",\"data\":\"a\xFF\"}",
         "syntax error while parsing value - invalid string: ill-formed UTF-8 byte; last read: "
         "'\"a\xEF\xBF\xBD' at line 1, column 27"},
        {"{\"type\":\"stderr\",\"data\":\"\xED\xA0\x80\"}",
         "syntax error while parsing value - invalid string: ill-formed UTF-8 byte; last read: "
         "'\"\xEF\xBF\xBD\xEF\xBF\xBD' at line 1, column 27"},
        {R"({"type":"stdout","data":"\ud800"})",
         "syntax error while parsing value - invalid string: surrogate U+D800..U+DBFF must be "
         "followed by U+DC00..U+DFFF; last read: '\"\\ud800\"' at line 1, column 32"},
        {R"({"type":"stdout","data":"\x"})",
         "syntax error while parsing value - invalid string: forbidden character after backslash; "
         "last read: '\"\\x' at line 1, column 27"},
        {R"({"type":"stdout","data":"a","data":"b"})",
         "duplicate field `data` at line 1, column 29"},
        {R"({"type":"stdout","data":"a"}x)",
         "syntax error while parsing value - invalid literal; last read: '\"a\"}x'; expected end "
         "of input at line 1, column 29"},
        {R"({"type":"stdout","data":"abc)",
         "syntax error while parsing value - invalid string: missing closing quote; last read: "
         "'\"abc' at line 1, column 29"},
        {R"({"type":"stdout","data":"a\"})",
         "syntax error while parsing value - invalid string: missing closing quote; last read: "
         "'\"a\\\"}' at line 1, column 30"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(read_plain_output_frame(c.body)) << c.body;
        const auto parsed = parse_worker_frame(c.body);
        ASSERT_FALSE(parsed) << c.body;
        EXPECT_EQ(parsed.error(), c.error) << c.body;
        EXPECT_EQ(parsed, parse_worker_frame_generally(c.body)) << c.body;
    }
}

}  // namespace
}  // namespace quarvel
