#pragma once
// What a run costs, measured on the machine the self-test runs on: the whole run from the
// host's side, and the grant and release stages from the trace lines as they arrived.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "selftest/program_run.h"

namespace quarvel::selftest {

struct RunTiming {
    std::string what;         // "probe", "run of a command that exits at once", ...
    std::uint64_t files = 0;  // files in the run's workspace
    double total_ms = 0;
    std::optional<double> grant_ms;    // workspace_access_started to workspace_access_ready
    std::optional<double> release_ms;  // worker_stopped to workspace_access_released
    std::string outcome;               // "exit code 0", or what went wrong
};

inline constexpr std::string_view kTracePrefix = "Quarvel native trace: ";

// Milliseconds from the trace line of stage `from` to that of stage `to`; none when either
// line is missing or they arrived out of order.
std::optional<double> stage_span(const std::vector<TimedLine>& lines, std::string_view from,
                                 std::string_view to);

// The timing of one finished run (or probe) of the main program.
RunTiming run_timing(std::string_view what, std::uint64_t files, const ProgramOutcome& outcome);

double milliseconds_between(Clock::time_point from, Clock::time_point to);

nlohmann::json to_json(const RunTiming& timing);

}  // namespace quarvel::selftest
