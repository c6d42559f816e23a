#include "selftest/report.h"

#include <algorithm>
#include <cstdio>

namespace quarvel::selftest {
namespace {

// Columns are measured in bytes; the texts are ASCII but for paths, which only ever come last.
std::string padded(std::string text, std::size_t width) {
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

std::string label(const CheckResult& check) {
    return check.mode.empty() ? check.title : "[" + check.mode + "] " + check.title;
}

std::string milliseconds(const std::optional<double>& value) {
    if (!value)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", *value);
    return text;
}

std::string checks_table(const std::vector<CheckResult>& checks) {
    std::size_t check_width = 5;
    std::size_t observed_width = 8;
    for (const auto& check : checks) {
        check_width = std::max(check_width, label(check).size());
        observed_width = std::max(observed_width, check.observed.size());
    }
    std::string table = padded("check", check_width) + "  " + padded("expected", 8) + "  " +
                        padded("observed", observed_width) + "  verdict\n";
    for (const auto& check : checks)
        table += padded(label(check), check_width) + "  " +
                 padded(std::string(expectation_text(check.expected)), 8) + "  " +
                 padded(check.observed, observed_width) + "  " +
                 std::string(verdict_text(check.verdict)) + "\n";
    return table;
}

std::string timings_table(const std::vector<RunTiming>& timings) {
    std::size_t what_width = 4;
    for (const auto& timing : timings)
        what_width = std::max(what_width, timing.what.size());
    std::string table = padded("what", what_width) + "  " + padded("files", 6) + "  " +
                        padded("total ms", 9) + "  " + padded("grant ms", 9) + "  " +
                        padded("release ms", 10) + "  outcome\n";
    for (const auto& timing : timings)
        table += padded(timing.what, what_width) + "  " + padded(std::to_string(timing.files), 6) +
                 "  " + padded(milliseconds(timing.total_ms), 9) + "  " +
                 padded(milliseconds(timing.grant_ms), 9) + "  " +
                 padded(milliseconds(timing.release_ms), 10) + "  " + timing.outcome + "\n";
    return table;
}

}  // namespace

Tally tally(const std::vector<CheckResult>& checks) {
    Tally counts;
    for (const auto& check : checks) {
        switch (check.verdict) {
            case Verdict::pass:
                ++counts.passed;
                break;
            case Verdict::fail:
                ++counts.failed;
                break;
            case Verdict::observed:
                ++counts.observed;
                break;
            case Verdict::unavailable:
                ++counts.unavailable;
                break;
        }
    }
    return counts;
}

int report_exit_code(const SelfTestReport& report) {
    if (tally(report.checks).failed > 0)
        return kGuardFailed;
    return report.stopped ? kStopped : kAllHeld;
}

std::string render_report(const SelfTestReport& report) {
    std::string text = "quarvel-sandbox-selftest: " + report.program + ", state directory " +
                       report.state_dir + "\n\n";
    if (!report.checks.empty())
        text += checks_table(report.checks) + "\n";
    if (!report.timings.empty())
        text += "Times measured on this machine:\n" + timings_table(report.timings) + "\n";
    for (const auto& path : report.left_behind)
        text += "Left behind: " + path + "\n";
    if (report.stopped)
        text += "Stopped: " + *report.stopped + "\n";
    const Tally counts = tally(report.checks);
    text += std::to_string(report.checks.size()) + " checks: " + std::to_string(counts.passed) +
            " passed, " + std::to_string(counts.failed) + " failed, " +
            std::to_string(counts.observed) + " observed, " + std::to_string(counts.unavailable) +
            " not available here.\n";
    return text;
}

nlohmann::json report_json(const SelfTestReport& report) {
    const Tally counts = tally(report.checks);
    nlohmann::json document = {
        {"version", 1},
        {"program", report.program},
        {"state_dir", report.state_dir},
        {"checks", nlohmann::json::array()},
        {"timings", nlohmann::json::array()},
        {"stopped", report.stopped ? nlohmann::json(*report.stopped) : nlohmann::json(nullptr)},
        {"left_behind", report.left_behind},
        {"summary",
         {{"passed", counts.passed},
          {"failed", counts.failed},
          {"observed", counts.observed},
          {"unavailable", counts.unavailable}}},
        {"exit_code", report_exit_code(report)}};
    for (const auto& check : report.checks)
        document["checks"].push_back(to_json(check));
    for (const auto& timing : report.timings)
        document["timings"].push_back(to_json(timing));
    return document;
}

}  // namespace quarvel::selftest
