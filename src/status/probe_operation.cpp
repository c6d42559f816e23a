#include "status/probe_operation.h"

#include "status/report_outcome.h"

namespace quarvel {
namespace {

Result<StatusReport> ready_or_failure(Operation operation, Result<void> verified) {
    if (!verified)
        return std::unexpected(std::move(verified.error()));
    return success_report(operation, StatusState::ready, "ready",
                          "Windows command protection is ready.");
}

// Whether the setup state loads; the loaded state, plain passwords included, is released here,
// before anything is reported.
Result<void> verify_setup(WideView state_dir) {
    auto loaded = load_setup(state_dir);
    if (!loaded)
        return std::unexpected(std::move(loaded.error()));
    return {};
}

}  // namespace

std::int32_t probe_operation(WideView state_dir, WideView status_file) {
    return report_outcome(Operation::probe, status_file,
                          ready_or_failure(Operation::probe, verify_setup(state_dir)));
}

std::int32_t report_setup(const Result<LoadedSetup>& outcome, WideView status_file) {
    Result<void> verified = {};
    if (!outcome)
        verified = std::unexpected(outcome.error());
    return report_outcome(Operation::setup, status_file,
                          ready_or_failure(Operation::setup, std::move(verified)));
}

}  // namespace quarvel
