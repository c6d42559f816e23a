// The self-test's command line: what it takes, its defaults, and every refusal with its
// message.

#include <gtest/gtest.h>

#include "selftest/options.h"

namespace quarvel::selftest {
namespace {

std::vector<WideString> words(std::initializer_list<const char*> texts) {
    std::vector<WideString> result;
    for (const char* text : texts)
        result.push_back(to_wide(text));
    return result;
}

TEST(SelfTestOptions, EveryOptionAndTheDefaults) {
    auto parsed = parse_options(words({"--state-dir", "C:\\q", "--program", "C:\\p.exe"}));
    ASSERT_TRUE(parsed) << parsed.error().message;
    const auto& defaults = std::get<Options>(*parsed);
    EXPECT_EQ(defaults.program, "C:\\p.exe");
    EXPECT_EQ(defaults.state_dir, "C:\\q");
    EXPECT_FALSE(defaults.setup);
    EXPECT_FALSE(defaults.keep);
    EXPECT_FALSE(defaults.owner_sid);
    EXPECT_FALSE(defaults.work_dir);
    EXPECT_EQ(defaults.report, "quarvel-selftest-report.json");
    EXPECT_EQ(defaults.timing_files, (std::vector<std::uint64_t>{1000, 10000}));

    parsed = parse_options(words({"--program", "p", "--state-dir", "s", "--setup", "--owner-sid",
                                  "S-1-5-21-1-2-3-1001", "--work-dir", "C:\\w", "--report",
                                  "C:\\r.json", "--timing-files", "20,200", "--keep"}));
    ASSERT_TRUE(parsed) << parsed.error().message;
    const auto& all = std::get<Options>(*parsed);
    EXPECT_TRUE(all.setup);
    EXPECT_TRUE(all.keep);
    EXPECT_EQ(all.owner_sid, "S-1-5-21-1-2-3-1001");
    EXPECT_EQ(all.work_dir, "C:\\w");
    EXPECT_EQ(all.report, "C:\\r.json");
    EXPECT_EQ(all.timing_files, (std::vector<std::uint64_t>{20, 200}));

    parsed = parse_options(words({"--program", "p", "--state-dir", "s", "--timing-files", "none"}));
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(std::get<Options>(*parsed).timing_files.empty());
    for (const char* help : {"help", "-h", "--help"}) {
        parsed = parse_options(words({help, "--bogus"}));
        ASSERT_TRUE(parsed) << help;
        EXPECT_TRUE(std::holds_alternative<Help>(*parsed)) << help;
    }
}

TEST(SelfTestOptions, MalformedCommandLinesAreRefusedWithTheirMessage) {
    const struct {
        std::initializer_list<const char*> arguments;
        const char* message;
    } rows[] = {
        {{}, "Missing required option: --program."},
        {{"--program", "p"}, "Missing required option: --state-dir."},
        {{"--program", "p", "--state-dir"}, "Missing value for --state-dir."},
        {{"--program", "p", "--program", "q"}, "Duplicate option: --program."},
        {{"--program", "p", "--state-dir", "s", "--setup", "--setup"},
         "Duplicate option: --setup."},
        {{"--program=p"}, "Unknown option: --program=p."},
        {{"probe"}, "Unknown option: probe."},
        {{"--program", "p", "--state-dir", "s", "--timing-files", "1000,"},
         "Option --timing-files takes file counts separated by commas, or none."},
        {{"--program", "p", "--state-dir", "s", "--timing-files", "-5"},
         "Option --timing-files takes file counts separated by commas, or none."},
        {{"--program", "p", "--state-dir", "s", "--timing-files", ""},
         "Option --timing-files takes file counts separated by commas, or none."},
    };
    for (const auto& row : rows) {
        const auto parsed = parse_options(words(row.arguments));
        ASSERT_FALSE(parsed) << row.message;
        EXPECT_EQ(parsed.error(), fixed_failure("invalid_request", row.message, 64));
    }
}

}  // namespace
}  // namespace quarvel::selftest
