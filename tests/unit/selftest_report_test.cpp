// The self-test's report: the exit code that sums the checks up, the table, the JSON document,
// the timings taken from trace lines, and the request its copy reads.

#include <gtest/gtest.h>

#include "selftest/probe_request.h"
#include "selftest/report.h"
#include "selftest/timing.h"

namespace quarvel::selftest {
namespace {

SelfTestReport report_of(std::vector<CheckResult> checks,
                         std::optional<std::string> stopped = std::nullopt) {
    SelfTestReport report;
    report.program = "C:\\p.exe";
    report.state_dir = "C:\\q";
    report.checks = std::move(checks);
    report.stopped = std::move(stopped);
    return report;
}

TEST(SelfTestReport, ExitCodeIsZeroOnlyWhenEveryGuardHeld) {
    const auto pass = property("a", "a", true, "yes");
    const auto fail = attempt("b", "b", Expectation::denied, 0);
    const auto seen = observation("c", "c", "whatever");
    const auto missing = unavailable("d", "d", Expectation::denied);
    const struct {
        SelfTestReport report;
        int exit_code;
    } rows[] = {
        {report_of({pass, seen, missing}), kAllHeld},
        {report_of({pass, fail, seen}), kGuardFailed},
        {report_of({pass}, "probe: exit code 78"), kStopped},
        {report_of({fail}, "the timing runs: no room"), kGuardFailed},
        {report_of({}, "preparing: no token"), kStopped},
    };
    for (const auto& row : rows)
        EXPECT_EQ(report_exit_code(row.report), row.exit_code);
}

TEST(SelfTestReport, TableAndJsonSayTheSameAboutEveryCheck) {
    auto enabled = attempt("files.cwd.create", "create a file in cwd", Expectation::allowed, 0);
    enabled.mode = "network enabled";
    auto report =
        report_of({enabled, attempt("x", "write in C:\\", Expectation::denied, 0),
                   unavailable("registry.machine.write", "write HKLM", Expectation::denied)});
    report.timings.push_back({"probe", 0, 43.25, std::nullopt, std::nullopt, "exit code 0"});
    report.left_behind.push_back("C:\\w\\runtime (Windows error 145)");
    const std::string table = render_report(report);
    EXPECT_NE(table.find("[network enabled] create a file in cwd"), std::string::npos);
    EXPECT_NE(table.find("not available here"), std::string::npos);
    EXPECT_NE(table.find("43.2"), std::string::npos);
    EXPECT_NE(table.find("Left behind: C:\\w\\runtime (Windows error 145)"), std::string::npos);
    EXPECT_NE(table.find("3 checks: 1 passed, 1 failed, 0 observed, 1 not available here."),
              std::string::npos);
    // Every row of the table starts its columns where the header does.
    const auto header_end = table.find('\n', table.find("check"));
    const auto verdict_column = table.find("verdict") - table.find("check");
    const auto row_end = table.find('\n', header_end + 1);
    const auto first_row = table.substr(header_end + 1, row_end - header_end - 1);
    EXPECT_EQ(first_row.substr(verdict_column, 4), "pass");

    const auto json = report_json(report);
    EXPECT_EQ(json["summary"]["passed"], 1);
    EXPECT_EQ(json["summary"]["failed"], 1);
    EXPECT_EQ(json["summary"]["unavailable"], 1);
    EXPECT_EQ(json["exit_code"], kGuardFailed);
    EXPECT_TRUE(json["stopped"].is_null());
    ASSERT_EQ(json["checks"].size(), 3u);
    EXPECT_EQ(check_from_json(json["checks"][0]), enabled);
    EXPECT_TRUE(json["timings"][0]["grant_ms"].is_null());
}

TEST(SelfTestTiming, StagesAreMeasuredBetweenTheirTraceLines) {
    const Clock::time_point t0{};
    const auto at = [&](int ms) { return t0 + std::chrono::milliseconds(ms); };
    const std::string p(kTracePrefix);
    const std::vector<TimedLine> lines = {
        {at(0), p + "runtime_validation_started"},
        {at(10), p + "workspace_access_started"},
        {at(35), p + "workspace_access_ready"},
        {at(40), p + "worker_stopped_late"},
        {at(50), "{\"code\":\"x\",\"message\":\"Quarvel native trace: worker_stopped\"}"},
        {at(60), p + "worker_stopped"},
        {at(72), p + "workspace_access_released"},
        {at(80), p + "request_sent"},
    };
    EXPECT_EQ(stage_span(lines, "workspace_access_started", "workspace_access_ready"), 25.0);
    // The whole line names the stage: neither a longer stage nor another text counts.
    EXPECT_EQ(stage_span(lines, "worker_stopped", "workspace_access_released"), 12.0);
    EXPECT_EQ(stage_span(lines, "workspace_access_released", "request_sent"), 8.0);
    EXPECT_FALSE(stage_span(lines, "request_sent", "workspace_access_started"));
    EXPECT_FALSE(stage_span(lines, "command_started", "workspace_access_ready"));

    ProgramOutcome outcome{3, "", lines, at(0), at(100)};
    const auto timing = run_timing("run", 20, outcome);
    EXPECT_EQ(timing.total_ms, 100.0);
    EXPECT_EQ(timing.grant_ms, 25.0);
    EXPECT_EQ(timing.release_ms, 12.0);
    EXPECT_EQ(timing.outcome, "exit code 3");
    EXPECT_EQ(timing.files, 20u);
}

TEST(SelfTestProbeRequest, EveryMemberSurvivesTheFileItTravelsIn) {
    ProbeRequest request;
    request.mode = "network disabled";
    request.network_enabled = false;
    request.cwd = "C:\\w\\cwd";
    request.sibling_secret = "C:\\w\\sibling\\secret.txt";
    request.runner_pid = 4242;
    request.other_command_pid = 77;
    request.expected_user_sid = "S-1-5-21-1-2-3-1002";
    request.listener_port = 50123;
    request.lookup_name = "www.microsoft.com";
    const auto read = probe_request_from_json(nlohmann::json::parse(to_json(request).dump()));
    EXPECT_EQ(to_json(read), to_json(request));
    EXPECT_EQ(read.listener_port, 50123);
    EXPECT_FALSE(read.own_address);
    EXPECT_FALSE(read.network_enabled);

    auto missing = to_json(request);
    missing.erase("runner_pid");
    EXPECT_THROW(probe_request_from_json(missing), nlohmann::json::exception);
}

}  // namespace
}  // namespace quarvel::selftest
