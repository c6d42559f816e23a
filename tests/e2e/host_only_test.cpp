// End-to-end behaviour that only the simulated host can arrange: arguments carrying unpaired
// surrogates, and faults injected into the program's own process.

#include <gtest/gtest.h>

#include "support/process_runner.h"

namespace quarvel::testing {
namespace {

class HostOnly : public ::testing::Test {
  protected:
    void SetUp() override {
        if (lane() != "host")
            GTEST_SKIP() << "needs the simulated host";
    }
};

TEST_F(HostOnly, UnpairedSurrogateInArgumentIsReportedAsReplacementCharacter) {
    auto command = program_under_test();
    command.push_back("x\xED\xA0\x80");  // WTF-8 for "x" and a lone U+D800
    const auto outcome = run_process(command);
    EXPECT_EQ(outcome.exit_code, 64);
    EXPECT_EQ(outcome.standard_error,
              "{\"code\":\"invalid_request\",\"message\":\"Unknown command: x\xEF\xBF\xBD.\"}\n");
}

TEST_F(HostOnly, UnreadableCommandLineGivesInternalFailure) {
    auto command = program_under_test();
    command.push_back("help");
    ProcessOptions options;
    options.environment["WINSIM_FAULTS"] = "CommandLineToArgvW:1:8";
    const auto outcome = run_process(command, options);
    EXPECT_EQ(outcome.exit_code, 70);
    EXPECT_EQ(outcome.standard_output, "");
    EXPECT_EQ(outcome.standard_error,
              "{\"code\":\"command_line_unavailable\",\"message\":\"Could not read the process "
              "command line. Windows error 8.\"}\n");
}

}  // namespace
}  // namespace quarvel::testing
