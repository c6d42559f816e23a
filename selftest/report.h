#pragma once
// The self-test's answer: a table for people (check, expected, observed, verdict, then the
// timings) and the same as a JSON document, and the exit code that sums it up.

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "selftest/check_result.h"
#include "selftest/timing.h"

namespace quarvel::selftest {

struct SelfTestReport {
    std::string program;
    std::string state_dir;
    std::vector<CheckResult> checks;
    std::vector<RunTiming> timings;
    // Where the self-test stopped before making every check, and why.
    std::optional<std::string> stopped;
    std::vector<std::string> left_behind;
};

struct Tally {
    std::size_t passed = 0;
    std::size_t failed = 0;
    std::size_t observed = 0;
    std::size_t unavailable = 0;
};
Tally tally(const std::vector<CheckResult>& checks);

// Exit codes: 0 every check that guards confinement held, 1 at least one failed, 2 the
// self-test stopped before it could make its checks.
inline constexpr int kAllHeld = 0;
inline constexpr int kGuardFailed = 1;
inline constexpr int kStopped = 2;
int report_exit_code(const SelfTestReport& report);

std::string render_report(const SelfTestReport& report);
nlohmann::json report_json(const SelfTestReport& report);

}  // namespace quarvel::selftest
