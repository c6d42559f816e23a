#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/wide_text.h"
#include "windows/security/command_line_quoting.h"

namespace quarvel {
namespace {

TEST(QuoteArgument, FollowsTheBackslashAndQuoteRules) {
    const struct {
        std::string argument;
        std::string quoted;
    } cases[] = {
        {"abc", "abc"},
        {"", "\"\""},
        {"a b", "\"a b\""},
        {"a\"b", "\"a\\\"b\""},
        {"a\\", "a\\"},
        {"a b\\", "\"a b\\\\\""},
        {"a\\\\\"b", "\"a\\\\\\\\\\\"b\""},
        {"C:\\dir\\sub\\", "C:\\dir\\sub\\"},
        {"a\\b c", "\"a\\b c\""},
        {"\"", "\"\\\"\""},
        {"\\\\", "\\\\"},
        {"x \\\\", "\"x \\\\\\\\\""},
        {"\\\"", "\"\\\\\\\"\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(quote_argument(c.argument), c.quoted) << c.argument;
}

TEST(QuoteArgument, QuotesEveryUnicodeWhiteSpaceCharacter) {
    const char* const white_space[] = {
        "\t",     "\n",     "\v",     "\f",     "\r",     " ",      "\u0085", "\u00A0", "\u1680",
        "\u2000", "\u2001", "\u2002", "\u2003", "\u2004", "\u2005", "\u2006", "\u2007", "\u2008",
        "\u2009", "\u200A", "\u2028", "\u2029", "\u202F", "\u205F", "\u3000",
    };
    for (const char* space : white_space) {
        const std::string argument = std::string("a") + space + "b";
        EXPECT_EQ(quote_argument(argument), "\"" + argument + "\"") << argument;
    }
}

TEST(QuoteArgument, LeavesNeighboursOfWhiteSpaceUnquoted) {
    // Characters next to the White_Space ranges, and look-alikes that are not White_Space.
    const char* const plain[] = {"a\u0008b", "a\u000Eb", "a\u001Fb",    "a\u0084b", "a\u0086b",
                                 "a\u00A1b", "a\u200Bb", "a\u2027b",    "a\u202Ab", "a\u2060b",
                                 "a\u3001b", "a\uFEFFb", "a\U0001F600b"};
    for (const char* argument : plain)
        EXPECT_EQ(quote_argument(argument), argument);
}

TEST(QuoteArgument, QuotesNoBreakAndIdeographicSpacesButNotPathCharacters) {
    EXPECT_EQ(quote_argument("no\u00A0break"), "\"no\u00A0break\"");
    EXPECT_EQ(quote_argument("ideo\u3000graphic"), "\"ideo\u3000graphic\"");
    EXPECT_EQ(quote_argument("C:/a\\b/C0ffee\\9"), "C:/a\\b/C0ffee\\9");
}

TEST(BuildCommandLine, JoinsQuotedArgumentsWithSingleSpaces) {
    const auto line = build_command_line({"C:\\Program Files\\tool.exe", "/d", "", "say \"hi\""});
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(*line, to_wide("\"C:\\Program Files\\tool.exe\" /d \"\" \"say \\\"hi\\\"\""));
    EXPECT_EQ(line->c_str()[line->size()], WCHAR{0});
}

TEST(BuildCommandLine, EncodesNonAsciiAsUtf16) {
    const auto line = build_command_line({"prog", "\U0001F600\u00E9"});
    ASSERT_TRUE(line.has_value());
    const WideString expected = {WCHAR('p'), WCHAR('r'),    WCHAR('o'),    WCHAR('g'),
                                 WCHAR(' '), WCHAR(0xD83D), WCHAR(0xDE00), WCHAR(0x00E9)};
    EXPECT_EQ(*line, expected);
}

TEST(BuildCommandLine, RefusesAMissingOrEmptyProgram) {
    const std::vector<std::vector<std::string>> empty_commands = {{}, {""}, {"", "arg"}};
    for (const auto& command : empty_commands) {
        const auto line = build_command_line(command);
        ASSERT_FALSE(line.has_value());
        EXPECT_EQ(line.error().code, "invalid_request");
        EXPECT_EQ(line.error().message, "Command is empty.");
        EXPECT_EQ(line.error().exit_code, 64);
    }
}

TEST(BuildCommandLine, RefusesAnArgumentThatWouldCutTheLineShort) {
    const auto line = build_command_line({"prog", std::string("a\0b", 3), "dropped"});
    ASSERT_FALSE(line.has_value());
    EXPECT_EQ(line.error().code, "invalid_request");
    EXPECT_EQ(line.error().message, "Command argument contains a NUL character.");
    EXPECT_EQ(line.error().exit_code, 64);
}

}  // namespace
}  // namespace quarvel
