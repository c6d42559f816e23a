#include "status/report_outcome.h"

#include "cli/console.h"
#include "status/publish_status.h"

namespace quarvel {
namespace {

std::int32_t report_failure(Operation operation, WideView status_file, const Failure& failure) {
    if (auto published = publish_status(status_file, failed_report(operation, failure)); !published)
        print_error_line(published.error());
    print_error_line(failure);
    return failure.exit_code;
}

std::int32_t report_success(WideView status_file, const StatusReport& report) {
    if (auto published = publish_status(status_file, report); !published) {
        print_error_line(published.error());
        return published.error().exit_code;
    }
    const auto document = status_json(report);
    const std::string line =
        document ? *document : R"({"version":1,"state":"failed","code":"serialization_failed"})";
    // The document is already published; a closed standard output cannot change the outcome.
    (void)write_standard_output(line + "\n");
    const bool finished =
        report.state == StatusState::ready || report.state == StatusState::completed;
    return finished ? exit_code::success : exit_code::status_not_ready;
}

}  // namespace

std::int32_t report_outcome(Operation operation, WideView status_file,
                            const Result<StatusReport>& outcome) {
    if (!outcome)
        return report_failure(operation, status_file, outcome.error());
    return report_success(status_file, *outcome);
}

}  // namespace quarvel
