#include "windows/runner/run_operation.h"

#include "cli/console.h"
#include "cli/failure.h"
#include "documents/sandbox_policy.h"
#include "status/publish_status.h"
#include "status/status_report.h"

namespace quarvel {
namespace {

// Once the policy is known, every failure goes to its status file as well. The host learns
// the outcome from that file when it can be written; when it cannot, the error line on
// standard error still carries the failure, so the publication's own failure stays silent.
std::int32_t report_run_failure(const SandboxPolicy& policy, const Failure& failure) {
    (void)publish_status(policy.status_file, failed_report(Operation::run, failure));
    print_error_line(failure);
    return failure.exit_code;
}

}  // namespace

std::int32_t run_operation(WideView, WideView policy_path, const std::vector<std::string>&) {
    const auto policy = read_policy(policy_path);
    if (!policy) {
        print_error_line(policy.error());
        return policy.error().exit_code;
    }
    if (auto valid = validate_policy(*policy); !valid)
        return report_run_failure(*policy, valid.error());
    // What follows validation (loading the setup, the workspace grants, the worker) is not part
    // of this build yet; it fails like any later step of a run would.
    return report_run_failure(*policy, unsupported_operation());
}

}  // namespace quarvel
