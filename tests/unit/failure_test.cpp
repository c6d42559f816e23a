#include <gtest/gtest.h>

#include "cli/failure.h"

namespace quarvel {
namespace {

TEST(ErrorLine, IsCompactCodeThenMessageWithoutExitCode) {
    const Failure failure = fixed_failure("invalid_request", "Bad.", 64);
    EXPECT_EQ(error_line(failure), R"({"code":"invalid_request","message":"Bad."})");
}

TEST(ErrorLine, EscapesQuoteBackslashAndControlCharacters) {
    const struct {
        std::string message;
        std::string written;
    } cases[] = {
        {"say \"hi\"", R"(say \"hi\")"},
        {"C:\\work", R"(C:\\work)"},
        {"one\ntwo", R"(one\ntwo)"},
        {"\b\t\f\r", R"(\b\t\f\r)"},
        {std::string("nul\x00!", 5), R"(nul\u0000!)"},
        {"\x01\x1f", R"(\u0001\u001f)"},
        {"\x1b[0m", R"(\u001b[0m)"},
        {"a/b\x7f", "a/b\x7f"},
        {"grüße ✓ 𝄞", "grüße ✓ 𝄞"},
    };
    for (const auto& c : cases) {
        const Failure failure = fixed_failure("x", c.message, 70);
        EXPECT_EQ(error_line(failure), R"({"code":"x","message":")" + c.written + "\"}")
            << c.written;
    }
}

TEST(ErrorLine, FallsBackToSerializationFailedWhenTextIsNotUtf8) {
    const Failure failure = fixed_failure("x", "bad \xff \"byte\"\n", 70);
    EXPECT_EQ(error_line(failure),
              "{\"code\":\"serialization_failed\",\"message\":\"bad \xff \\\"byte\\\"\\n\"}");
}

TEST(FormattedFailure, JoinsTextAndNumbersInOrder) {
    const Failure failure =
        formatted_failure("worker_exit_failed", 70, "Exited with code ", 3221225477u, ".");
    EXPECT_EQ(failure.message, "Exited with code 3221225477.");
    EXPECT_EQ(formatted_failure("c", 70, "n=", -1073741510, ".").message, "n=-1073741510.");
    EXPECT_EQ(failure.exit_code, 70);
}

TEST(IoFailure, IsContextSystemTextAndOsErrorNumber) {
    const Failure failure = io_failure("Could not read policy", 2);
    EXPECT_EQ(failure.code, "io_error");
    EXPECT_EQ(failure.exit_code, 74);
    const std::string prefix = "Could not read policy: ";
    ASSERT_GT(failure.message.size(), prefix.size());
    EXPECT_EQ(failure.message.substr(0, prefix.size()), prefix);
    EXPECT_TRUE(failure.message.ends_with(" (os error 2)")) << failure.message;
    EXPECT_EQ(failure.message.find('\r'), std::string::npos);
    EXPECT_EQ(failure.message.find('\n'), std::string::npos);
}

}  // namespace
}  // namespace quarvel
