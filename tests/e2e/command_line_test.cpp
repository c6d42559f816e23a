// The executable's command line, seen from outside: output streams and exit codes. The same
// suite runs against the host build and against the .exe under Wine.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/process_runner.h"

namespace quarvel::testing {
namespace {

constexpr std::string_view kUsage =
    "Usage:\n"
    "  quarvel-sandbox-windows probe --state-dir <path> --status-file <path>\n"
    "  quarvel-sandbox-windows setup --state-dir <path> --status-file <path> [--owner-sid <sid>]\n"
    "  quarvel-sandbox-windows run --state-dir <path> --policy <json-file> -- <command> [args...]";

ProcessOutcome run_program(const std::vector<std::string>& arguments) {
    auto command = program_under_test();
    command.insert(command.end(), arguments.begin(), arguments.end());
    return run_process(command);
}

std::string json_escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string invalid_request_line(std::string_view message) {
    return R"({"code":"invalid_request","message":")" + json_escaped(message) + "\"}\n";
}

TEST(CommandLine, NoArgumentsPrintsUsageAsErrorLineWithExitCode64) {
    const auto outcome = run_program({});
    EXPECT_EQ(outcome.exit_code, 64);
    EXPECT_EQ(outcome.standard_output, "");
    EXPECT_EQ(outcome.standard_error, invalid_request_line(kUsage));
}

TEST(CommandLine, HelpWordsPrintUsageToStandardOutputAndIgnoreTheRest) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"help", "x", "y"}, {"-h"}, {"--help", "--state-dir"}}) {
        const auto outcome = run_program(arguments);
        EXPECT_EQ(outcome.exit_code, 0) << arguments[0];
        EXPECT_EQ(outcome.standard_output, std::string(kUsage) + "\n") << arguments[0];
        EXPECT_EQ(outcome.standard_error, "") << arguments[0];
    }
}

struct RejectedCase {
    std::vector<std::string> arguments;
    std::string message;
};

TEST(CommandLine, MalformedCommandLinesGiveTheirMessageAndExitCode64) {
    const std::vector<RejectedCase> cases = {
        {{"PROBE"}, "Unknown command: PROBE."},
        {{"Help"}, "Unknown command: Help."},
        {{"probe", "--state-dir"}, "Missing value for --state-dir."},
        {{"probe", "--state-dir", "a", "--state-dir", "b"}, "Duplicate option: --state-dir."},
        {{"probe", "--state-dir", "a", "--state-dir"}, "Missing value for --state-dir."},
        {{"probe", "--status-file", "s"}, "Missing required option: --state-dir."},
        {{"probe"}, "Missing required option: --state-dir."},
        {{"probe", "--state-dir=x"}, "Unknown option: --state-dir=x."},
        {{"probe", "-"}, "Unknown option: -."},
        {{"setup", "--state-dir", "d", "--status-file", "s", "--owner-sid"},
         "Missing value for --owner-sid."},
        {{"run", "--state-dir", "d", "--policy", "p", "--"}, "run requires a command after --."},
        {{"run", "--state-dir", "d", "--policy", "p", "--", ""},
         "run requires a command after --."},
        {{"run", "--bogus", "--", ""}, "run requires a command after --."},
        {{"run", "--state-dir", "d"}, "run requires -- before the command."},
        {{"run", "--state-dir", "d", "--", "cmd"}, "Missing required option: --policy."},
        {{"run", "--state-dir", "d", "x", "--policy", "p", "--", "cmd"}, "Unknown option: x."},
        {{"run", "--policy", "--", "cmd"}, "Missing value for --policy."},
        {{"__worker"}, "Missing required option: --pipe."},
        {{"__worker", "--pipe", "p", "--state-dir", "d"}, "Unknown option: --state-dir."},
    };
    for (const auto& rejected : cases) {
        const auto outcome = run_program(rejected.arguments);
        std::string shown;
        for (const auto& argument : rejected.arguments)
            shown += "[" + argument + "]";
        EXPECT_EQ(outcome.exit_code, 64) << shown;
        EXPECT_EQ(outcome.standard_output, "") << shown;
        EXPECT_EQ(outcome.standard_error, invalid_request_line(rejected.message)) << shown;
    }
}

TEST(CommandLine, NonAsciiArgumentsAreReportedAsUtf8) {
    const auto outcome = run_program({"pröbe"});
    EXPECT_EQ(outcome.exit_code, 64);
    EXPECT_EQ(outcome.standard_error, invalid_request_line("Unknown command: pröbe."));
}

}  // namespace
}  // namespace quarvel::testing
