#include <gtest/gtest.h>

#include "cli/command.h"

namespace quarvel::cli {
namespace {

std::vector<WideString> words(std::initializer_list<std::string_view> texts) {
    std::vector<WideString> out;
    for (auto text : texts)
        out.push_back(to_wide(text));
    return out;
}

TEST(UsageText, Is263BytesWithoutTrailingLineFeed) {
    EXPECT_EQ(kUsageText.size(), 263u);
    EXPECT_NE(kUsageText.back(), '\n');
    EXPECT_EQ(kUsageText.find("__worker"), std::string_view::npos);
}

TEST(ParseCommandLine, ProbeKeepsPathsAsGiven) {
    const auto parsed =
        parse_command_line(words({"probe", "--status-file", "s.json", "--state-dir", "C:\\state"}));
    ASSERT_TRUE(parsed.has_value());
    const auto& probe = std::get<cli::Probe>(*parsed);
    EXPECT_EQ(probe.state_dir, to_wide("C:\\state"));
    EXPECT_EQ(probe.status_file, to_wide("s.json"));
}

TEST(ParseCommandLine, SetupOwnerSidIsOptional) {
    const auto without =
        parse_command_line(words({"setup", "--state-dir", "d", "--status-file", "s"}));
    ASSERT_TRUE(without.has_value());
    EXPECT_FALSE(std::get<cli::Setup>(*without).owner_sid.has_value());
    const auto with = parse_command_line(
        words({"setup", "--owner-sid", "S-1-5-32-544", "--state-dir", "d", "--status-file", "s"}));
    ASSERT_TRUE(with.has_value());
    EXPECT_EQ(std::get<cli::Setup>(*with).owner_sid, "S-1-5-32-544");
}

TEST(ParseCommandLine, OptionValuesMayLookLikeOptionsOrBeEmpty) {
    const auto parsed =
        parse_command_line(words({"probe", "--state-dir", "--status-file", "--status-file", ""}));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(std::get<cli::Probe>(*parsed).state_dir, to_wide("--status-file"));
    EXPECT_EQ(std::get<cli::Probe>(*parsed).status_file, WideString{});
}

TEST(ParseCommandLine, RunCommandKeepsLaterSeparators) {
    const auto parsed = parse_command_line(
        words({"run", "--state-dir", "d", "--policy", "p", "--", "cmd", "--", "x"}));
    ASSERT_TRUE(parsed.has_value());
    const auto& run = std::get<cli::Run>(*parsed);
    EXPECT_EQ(run.command, (std::vector<std::string>{"cmd", "--", "x"}));
    EXPECT_EQ(run.state_dir, to_wide("d"));
    EXPECT_EQ(run.policy, to_wide("p"));
}

TEST(ParseCommandLine, RunAllowsEmptyLaterWords) {
    const auto parsed =
        parse_command_line(words({"run", "--state-dir", "d", "--policy", "p", "--", "cmd", ""}));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(std::get<cli::Run>(*parsed).command, (std::vector<std::string>{"cmd", ""}));
}

TEST(ParseCommandLine, WorkerTakesPipeName) {
    const auto parsed = parse_command_line(words({"__worker", "--pipe", "\\\\.\\pipe\\x"}));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(std::get<cli::Worker>(*parsed).pipe, "\\\\.\\pipe\\x");
}

TEST(ParseCommandLine, UnpairedSurrogateIsReportedAsReplacementCharacter) {
    WideString word = to_wide("probe");
    word.push_back(static_cast<WCHAR>(0xD800));
    const auto parsed = parse_command_line(std::vector<WideString>{word});
    ASSERT_FALSE(parsed.has_value());
    EXPECT_EQ(parsed.error().message, "Unknown command: probe\xEF\xBF\xBD.");

    WideString option = to_wide("--x");
    option.push_back(static_cast<WCHAR>(0xDC00));
    const auto rejected = parse_command_line(std::vector<WideString>{to_wide("probe"), option});
    ASSERT_FALSE(rejected.has_value());
    EXPECT_EQ(rejected.error().message, "Unknown option: --x\xEF\xBF\xBD.");
}

TEST(ParseCommandLine, NativePathsKeepUnpairedSurrogates) {
    WideString path = to_wide("C:\\a");
    path.push_back(static_cast<WCHAR>(0xD801));
    const auto parsed = parse_command_line(std::vector<WideString>{
        to_wide("probe"), to_wide("--state-dir"), path, to_wide("--status-file"), to_wide("s")});
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(std::get<cli::Probe>(*parsed).state_dir, path);
}

TEST(ParseCommandLine, FailuresAreInvalidRequestWithExitCode64) {
    for (const auto& arguments :
         {words({}), words({"x"}), words({"probe", "--x"}), words({"run", "--"})}) {
        const auto parsed = parse_command_line(arguments);
        ASSERT_FALSE(parsed.has_value());
        EXPECT_EQ(parsed.error().code, "invalid_request");
        EXPECT_EQ(parsed.error().exit_code, 64);
    }
    EXPECT_EQ(parse_command_line(words({})).error().message, kUsageText);
}

}  // namespace
}  // namespace quarvel::cli
