// Worker frames on the wire: the exact text the worker writes and what the runner accepts.

#include <gtest/gtest.h>

#include "windows/channel/worker_frame.h"

namespace quarvel {
namespace {

TEST(WorkerFrameWriting, EachVariantIsWrittenTypeFirstThenItsFieldsInOrder) {
    const struct {
        WorkerFrame frame;
        const char* text;
    } cases[] = {
        {frame::Progress{"request_received"}, R"({"type":"progress","stage":"request_received"})"},
        {frame::Started{4242}, R"({"type":"started","process_id":4242})"},
        {frame::Started{4294967295u}, R"({"type":"started","process_id":4294967295})"},
        {frame::Stdout{"a\"b\\\n\x01/"}, R"({"type":"stdout","data":"a\"b\\\n\u0001/"})"},
        {frame::Stderr{"\xC3\xA9"}, "{\"type\":\"stderr\",\"data\":\"\xC3\xA9\"}"},
        {frame::Exited{-1073741510}, R"({"type":"exited","exit_code":-1073741510})"},
        {frame::Failed{"process_create_failed", "Could not create suspended protected command."},
         R"({"type":"failed","code":"process_create_failed","message":"Could not create suspended protected command."})"},
    };
    for (const auto& c : cases) {
        const auto text = write_worker_frame(c.frame);
        ASSERT_TRUE(text) << c.text;
        EXPECT_EQ(*text, c.text);
        const auto parsed = parse_worker_frame(*text);
        ASSERT_TRUE(parsed) << parsed.error();
        EXPECT_EQ(*parsed, c.frame) << c.text;
    }
}

TEST(WorkerFrameWriting, ReplacementCharacterTravelsAsItsUtf8Bytes) {
    const auto text = write_worker_frame(frame::Stdout{"f\xEF\xBF\xBDg"});
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, "{\"type\":\"stdout\",\"data\":\"f\xEF\xBF\xBDg\"}");
}

TEST(WorkerFrameWriting, TextThatIsNotUtf8CannotBeWritten) {
    const auto text = write_worker_frame(frame::Stdout{"f\xFFg"});
    ASSERT_FALSE(text);
    EXPECT_FALSE(text.error().empty());
}

TEST(WorkerFrameParsing, AcceptsTheTagAnywhereAndIgnoresKeysNoVariantKnows) {
    const struct {
        const char* text;
        WorkerFrame frame;
    } cases[] = {
        {R"({"process_id":7,"type":"started"})", frame::Started{7}},
        {R"({"type":"stdout","data":"x","extra":[1,{"a":null}]})", frame::Stdout{"x"}},
        {R"({"stage":"s","process_id":"ignored","type":"progress"})", frame::Progress{"s"}},
        {R"( {"type":"exited","exit_code":-2147483648} )", frame::Exited{-2147483647 - 1}},
        {R"({"type":"exited","exit_code":2147483647})", frame::Exited{2147483647}},
        {R"({"message":"m","type":"failed","code":"c"})", frame::Failed{"c", "m"}},
        {R"({"type":"stderr","data":""})", frame::Stderr{""}},
    };
    for (const auto& c : cases) {
        const auto parsed = parse_worker_frame(c.text);
        ASSERT_TRUE(parsed) << c.text << ": " << parsed.error();
        EXPECT_EQ(*parsed, c.frame) << c.text;
    }
}

TEST(WorkerFrameParsing, RefusesWhatIsNotOneWholeFrameAndSaysWhere) {
    const char* cases[] = {
        R"({"type":"exited"})",                             // missing field
        R"({"type":"finished","exit_code":0})",             // no such variant
        R"({"exit_code":0})",                               // no tag
        R"({"type":"started","process_id":-1})",            // below u32
        R"({"type":"started","process_id":4294967296})",    // above u32
        R"({"type":"started","process_id":7.0})",           // not an integer
        R"({"type":"exited","exit_code":2147483648})",      // above i32
        R"({"type":"stdout","data":1})",                    // wrong type
        R"({"type":"stdout","data":null})",                 // null is no value
        R"({"type":"stdout","data":"a","data":"b"})",       // repeated field
        R"({"type":"stdout","type":"stdout","data":"a"})",  // repeated tag
        R"({"type":"failed","code":"c"})",                  // second field missing
        R"(["stdout"])",                                    // not an object
        R"({"type":"stdout","data":"a"} x)",                // something after the frame
        "{\"type\":\"stdout\",\"data\":\"\xFF\"}",          // invalid UTF-8
        "",
    };
    for (const char* text : cases) {
        const auto parsed = parse_worker_frame(text);
        ASSERT_FALSE(parsed) << text;
        EXPECT_NE(parsed.error().find("line"), std::string::npos) << text << ": " << parsed.error();
    }
}

TEST(WorkerFrameParsing, OnlyExitedAndFailedEndARun) {
    EXPECT_TRUE(is_terminal(frame::Exited{0}));
    EXPECT_TRUE(is_terminal(frame::Failed{"c", "m"}));
    EXPECT_FALSE(is_terminal(frame::Started{1}));
    EXPECT_FALSE(is_terminal(frame::Progress{"p"}));
    EXPECT_FALSE(is_terminal(frame::Stdout{"o"}));
    EXPECT_FALSE(is_terminal(frame::Stderr{"e"}));
}

}  // namespace
}  // namespace quarvel
