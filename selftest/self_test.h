#pragma once
// The self-test from end to end, on the machine it runs on: optionally setup, a throwaway
// workspace, probe, the protected runs of its own copy (network enabled and disabled) beside a
// second run that stays alive, the timing runs, and the report.

#include "selftest/options.h"
#include "selftest/report.h"

namespace quarvel::selftest {

// Everything the self-test found; where it had to stop, `stopped` says so. Nothing is left
// running, and the workspace is removed unless `options.keep`.
SelfTestReport run_self_test(const Options& options);

// Writes the report's JSON to `path`; the Windows error when that fails.
std::uint32_t write_report(const SelfTestReport& report, const std::string& path);

}  // namespace quarvel::selftest
