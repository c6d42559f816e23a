#include "status/status_report.h"

#include "cli/json_writer.h"

namespace quarvel {
namespace {

std::string_view operation_word(Operation operation) {
    switch (operation) {
        case Operation::probe:
            return "probe";
        case Operation::setup:
            return "setup";
        case Operation::run:
            return "run";
    }
    return "run";
}

std::string_view state_word(StatusState state) {
    switch (state) {
        case StatusState::ready:
            return "ready";
        case StatusState::setup_required:
            return "setup_required";
        case StatusState::running:
            return "running";
        case StatusState::completed:
            return "completed";
        case StatusState::failed:
            return "failed";
        case StatusState::unavailable:
            return "unavailable";
    }
    return "failed";
}

StatusReport make_report(Operation operation, StatusState state, std::string code,
                         std::string message) {
    StatusReport report;
    report.operation = operation;
    report.state = state;
    report.code = std::move(code);
    report.message = std::move(message);
    return report;
}

StatusState state_for_failure(std::string_view code) {
    if (code == "setup_required")
        return StatusState::setup_required;
    if (code == "sandbox_unavailable")
        return StatusState::unavailable;
    return StatusState::failed;
}

}  // namespace

StatusReport success_report(Operation operation, StatusState state, std::string code,
                            std::string message) {
    return make_report(operation, state, std::move(code), std::move(message));
}

StatusReport failed_report(Operation operation, const Failure& failure) {
    return make_report(operation, state_for_failure(failure.code), failure.code, failure.message);
}

std::expected<std::string, std::string> status_json(const StatusReport& report) {
    JsonWriter out;
    out.begin_object();
    out.key("version").unsigned_number(report.version);
    out.key("operation").string(operation_word(report.operation));
    out.key("state").string(state_word(report.state));
    out.key("code").string(report.code);
    out.key("message").string(report.message);
    out.key("setup_version").unsigned_number(report.setup_version);
    if (report.process_id)
        out.key("process_id").unsigned_number(*report.process_id);
    if (report.exit_code)
        out.key("exit_code").signed_number(*report.exit_code);
    out.end_object();
    return std::move(out).finish();
}

}  // namespace quarvel
