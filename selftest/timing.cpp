#include "selftest/timing.h"

namespace quarvel::selftest {
namespace {

std::optional<Clock::time_point> stage_time(const std::vector<TimedLine>& lines,
                                            std::string_view stage) {
    for (const auto& line : lines)
        if (line.text.size() == kTracePrefix.size() + stage.size() &&
            line.text.starts_with(kTracePrefix) && line.text.ends_with(stage))
            return line.at;
    return std::nullopt;
}

nlohmann::json optional_number(const std::optional<double>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

}  // namespace

double milliseconds_between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

std::optional<double> stage_span(const std::vector<TimedLine>& lines, std::string_view from,
                                 std::string_view to) {
    const auto start = stage_time(lines, from);
    const auto end = stage_time(lines, to);
    if (!start || !end || *end < *start)
        return std::nullopt;
    return milliseconds_between(*start, *end);
}

RunTiming run_timing(std::string_view what, std::uint64_t files, const ProgramOutcome& outcome) {
    RunTiming timing;
    timing.what = std::string(what);
    timing.files = files;
    timing.total_ms = milliseconds_between(outcome.started, outcome.ended);
    timing.grant_ms =
        stage_span(outcome.error_lines, "workspace_access_started", "workspace_access_ready");
    timing.release_ms =
        stage_span(outcome.error_lines, "worker_stopped", "workspace_access_released");
    timing.outcome = "exit code " + std::to_string(outcome.exit_code);
    return timing;
}

nlohmann::json to_json(const RunTiming& timing) {
    return {{"what", timing.what},
            {"files", timing.files},
            {"total_ms", timing.total_ms},
            {"grant_ms", optional_number(timing.grant_ms)},
            {"release_ms", optional_number(timing.release_ms)},
            {"outcome", timing.outcome}};
}

}  // namespace quarvel::selftest
