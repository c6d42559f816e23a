// The reporting that ends `probe` and `setup`: status file, standard streams and exit code for
// each kind of outcome, including a status file that cannot be published.

#include <gtest/gtest.h>

#include "cli/console.h"
#include "platform/unique_resource.h"
#include "status/report_outcome.h"
#include "support/host_scratch.h"

namespace quarvel {
namespace {

struct Printed {
    std::int32_t exit_code = -1;
    std::string standard_output;
    std::string standard_error;
};

class ReportOutcome : public testing::HostScratch {
  protected:
    // Runs the reporting with standard output and standard error sent to files.
    Printed report(Operation operation, const WideString& status_file,
                   const Result<StatusReport>& outcome) {
        const HANDLE saved_output = GetStdHandle(STD_OUTPUT_HANDLE);
        const HANDLE saved_error = GetStdHandle(STD_ERROR_HANDLE);
        Printed printed;
        {
            UniqueHandle output(CreateFileW(windows_form(work("stdout")).c_str(), GENERIC_WRITE, 0,
                                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                            nullptr));
            UniqueHandle error(CreateFileW(windows_form(work("stderr")).c_str(), GENERIC_WRITE, 0,
                                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            SetStdHandle(STD_OUTPUT_HANDLE, output.get());
            SetStdHandle(STD_ERROR_HANDLE, error.get());
            printed.exit_code = report_outcome(operation, status_file, outcome);
            SetStdHandle(STD_OUTPUT_HANDLE, saved_output);
            SetStdHandle(STD_ERROR_HANDLE, saved_error);
        }
        printed.standard_output = host_contents(work("stdout"));
        printed.standard_error = host_contents(work("stderr"));
        return printed;
    }

    WideString status_path() const { return windows_form(work("state/status.json")); }
};

constexpr std::string_view kReadyJson =
    R"({"version":1,"operation":"probe","state":"ready","code":"ready",)"
    R"("message":"Windows command protection is ready.","setup_version":2})";

TEST_F(ReportOutcome, ReadyDocumentIsPublishedAndPrintedWithExitCodeZero) {
    const auto printed = report(Operation::probe, status_path(),
                                success_report(Operation::probe, StatusState::ready, "ready",
                                               "Windows command protection is ready."));
    EXPECT_EQ(printed.exit_code, 0);
    EXPECT_EQ(printed.standard_output, std::string(kReadyJson) + "\n");
    EXPECT_EQ(printed.standard_error, "");
    EXPECT_EQ(host_contents(work("state/status.json")), kReadyJson);
}

TEST_F(ReportOutcome, SuccessDocumentsOfOtherStatesExitWithOne) {
    StatusReport completed =
        success_report(Operation::run, StatusState::completed, "completed", "Done.");
    EXPECT_EQ(report(Operation::run, status_path(), completed).exit_code, 0);
    StatusReport running = success_report(Operation::run, StatusState::running, "running", "On.");
    running.process_id = 7;
    const auto printed = report(Operation::run, status_path(), running);
    EXPECT_EQ(printed.exit_code, 1);
    EXPECT_EQ(printed.standard_output, *status_json(running) + "\n");
}

TEST_F(ReportOutcome, SetupRequiredFailureIsPublishedAndPrintedToStandardError) {
    const Failure failure =
        fixed_failure("setup_required", "Windows command protection must be set up.", 78);
    const auto printed = report(Operation::probe, status_path(), std::unexpected(failure));
    EXPECT_EQ(printed.exit_code, 78);
    EXPECT_EQ(printed.standard_output, "");
    EXPECT_EQ(printed.standard_error, error_line(failure) + "\n");
    EXPECT_EQ(
        host_contents(work("state/status.json")),
        R"({"version":1,"operation":"probe","state":"setup_required","code":"setup_required",)"
        R"("message":"Windows command protection must be set up.","setup_version":2})");
}

TEST_F(ReportOutcome, UnpublishableFailurePrintsThePublishingFailureFirst) {
    const Failure failure = io_failure("Could not read setup", 2);
    const auto printed = report(Operation::setup, to_wide("C:\\"), std::unexpected(failure));
    EXPECT_EQ(printed.exit_code, 74);
    EXPECT_EQ(printed.standard_output, "");
    EXPECT_EQ(
        printed.standard_error,
        error_line(fixed_failure("invalid_request", "Status file has no parent directory.", 64)) +
            "\n" + error_line(failure) + "\n");
}

TEST_F(ReportOutcome, UnpublishableSuccessPrintsOnlyThePublishingFailure) {
    put_host_file(work("state"), "a file where the directory should be");
    const auto printed =
        report(Operation::probe, status_path(),
               success_report(Operation::probe, StatusState::ready, "ready", "ok"));
    const Failure publishing =
        io_failure("Could not create status directory", ERROR_ALREADY_EXISTS);
    EXPECT_EQ(printed.exit_code, 74);
    EXPECT_EQ(printed.standard_output, "");
    EXPECT_EQ(printed.standard_error, error_line(publishing) + "\n");
}

}  // namespace
}  // namespace quarvel
