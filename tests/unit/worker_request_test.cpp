#include <gtest/gtest.h>

#include <string>

#include "documents/worker_request.h"

namespace quarvel {
namespace {

constexpr std::string_view kPolicy =
    R"({"cwd":"C:\\work","runtime_dir":"C:\\run","status_file":"C:\\state\\status.json"})";

std::string request_text(std::string_view policy, std::string_view extra = "",
                         std::string_view version = R"("version":1,)") {
    return "{" + std::string(version) + R"("policy":)" + std::string(policy) +
           R"(,"command":["cmd.exe","/c","echo hi"],"account_sid":"S-1-5-21-1-2-3-1001",)"
           R"("base_sid":"S-1-5-21-1-2-3-1000","capability_sid":"S-1-5-21-9-8-7-6")" +
           std::string(extra) + "}";
}

WorkerRequest valid_request() {
    auto request = parse_worker_request(request_text(kPolicy));
    EXPECT_TRUE(request.has_value()) << request.error();
    return request.value_or(WorkerRequest{});
}

TEST(WorkerRequestParse, TraceDefaultsToFalseAndThePolicyToItsDefaults) {
    const WorkerRequest request = valid_request();
    EXPECT_EQ(request.version, 1u);
    EXPECT_FALSE(request.trace);
    EXPECT_EQ(request.command, (std::vector<std::string>{"cmd.exe", "/c", "echo hi"}));
    EXPECT_EQ(request.account_sid, "S-1-5-21-1-2-3-1001");
    EXPECT_EQ(request.base_sid, "S-1-5-21-1-2-3-1000");
    EXPECT_EQ(request.capability_sid, "S-1-5-21-9-8-7-6");
    EXPECT_EQ(request.policy.version, 1u);
    EXPECT_EQ(request.policy.network, NetworkMode::enabled);
    EXPECT_EQ(request.policy.cwd, to_wide("C:\\work"));
    EXPECT_TRUE(parse_worker_request(request_text(kPolicy, R"(,"trace":true)"))->trace);
}

// The column of the last occurrence of `marker` in a one-line text.
std::string at_last(const std::string& text, std::string_view marker) {
    return " at line 1, column " + std::to_string(text.rfind(marker) + 1);
}

TEST(WorkerRequestParse, RequestsBreakingTheRulesAreRejected) {
    const std::string extra_top = request_text(kPolicy, R"(,"shell":true)");
    const std::string extra_policy =
        request_text(R"({"cwd":"a","runtime_dir":"b","status_file":"c","x":1})");
    const std::string no_version = request_text(kPolicy, "", "");
    const std::string repeated = request_text(kPolicy, R"(,"trace":true,"trace":false)");
    const std::string null_trace = request_text(kPolicy, R"(,"trace":null)");
    const std::string null_command =
        R"({"version":1,"policy":{"cwd":"a","runtime_dir":"b","status_file":"c"},"command":null,)"
        R"("account_sid":"a","base_sid":"b","capability_sid":"c"})";
    const std::string policy_array = request_text("[]");
    const std::string policy_without_cwd = request_text(R"({"runtime_dir":"b","status_file":"c"})");
    const struct {
        std::string name;
        std::string text;
        std::string description;
    } cases[] = {
        {"extra key at the top", extra_top,
         "unknown field `shell`" + at_last(extra_top, "\"shell")},
        {"extra key in the policy", extra_policy,
         "unknown field `x`" + at_last(extra_policy, "\"x")},
        {"missing version", no_version, "missing field `version` at line 1, column 1"},
        {"repeated key", repeated, "duplicate field `trace`" + at_last(repeated, "\"trace")},
        {"null trace", null_trace,
         "field `trace` must be true or false, found null" + at_last(null_trace, "null")},
        {"null command", null_command,
         "field `command` must be an array of strings, found null" + at_last(null_command, "null")},
        {"policy not an object", policy_array,
         "expected an object, found an array" + at_last(policy_array, "[]")},
        {"policy missing cwd", policy_without_cwd,
         "missing field `cwd`" + at_last(policy_without_cwd, "{\"runtime_dir")},
    };
    for (const auto& c : cases) {
        const auto request = parse_worker_request(c.text);
        ASSERT_FALSE(request.has_value()) << c.name;
        EXPECT_EQ(request.error(), c.description) << c.name;
    }
    const std::string trailing = request_text(kPolicy) + " x";
    const auto request = parse_worker_request(trailing);
    ASSERT_FALSE(request.has_value());
    EXPECT_TRUE(request.error().starts_with("syntax error")) << request.error();
    EXPECT_TRUE(request.error().ends_with(at_last(trailing, "x"))) << request.error();
}

TEST(WorkerRequestWrite, AllSevenKeysWithTheWholePolicy) {
    WorkerRequest request = valid_request();
    request.trace = true;
    const auto text = write_worker_request(request);
    ASSERT_TRUE(text.has_value()) << text.error();
    EXPECT_EQ(*text,
              R"({"version":1,"policy":{"version":1,"cwd":"C:\\work","writable_roots":[],)"
              R"("readable_roots":[],"runtime_dir":"C:\\run","network":"enabled",)"
              R"("status_file":"C:\\state\\status.json"},"command":["cmd.exe","/c","echo hi"],)"
              R"("account_sid":"S-1-5-21-1-2-3-1001","base_sid":"S-1-5-21-1-2-3-1000",)"
              R"("capability_sid":"S-1-5-21-9-8-7-6","trace":true})");
    EXPECT_EQ(parse_worker_request(*text).value(), request);

    request.command.clear();
    EXPECT_EQ(write_worker_request(request).value().find(R"("command":[],)") != std::string::npos,
              true);
    request.policy.runtime_dir.push_back(static_cast<WCHAR>(0xDC01));
    EXPECT_EQ(write_worker_request(request).error(), "path contains invalid UTF-8 characters");
}

TEST(WorkerRequestValidate, ChecksVersionPolicyCommandAndSidsInThatOrder) {
    const auto with = [](auto change) {
        WorkerRequest request = valid_request();
        change(request);
        return request;
    };
    const struct {
        WorkerRequest request;
        std::string message;
    } cases[] = {
        {with([](WorkerRequest& r) {
             r.version = 2;
             r.policy.version = 2;
         }),
         "Unsupported worker protocol version: 2."},
        {with([](WorkerRequest& r) {
             r.policy.cwd = to_wide("relative");
             r.command.clear();
         }),
         "Policy field cwd must be an absolute path."},
        {with([](WorkerRequest& r) {
             r.command = {""};
             r.base_sid.clear();
         }),
         "Worker request has no command."},
        {with([](WorkerRequest& r) { r.command.clear(); }), "Worker request has no command."},
        {with([](WorkerRequest& r) { r.account_sid.clear(); }),
         "Worker request has no security identifiers."},
        {with([](WorkerRequest& r) { r.base_sid.clear(); }),
         "Worker request has no security identifiers."},
        {with([](WorkerRequest& r) { r.capability_sid.clear(); }),
         "Worker request has no security identifiers."},
    };
    for (const auto& c : cases) {
        const auto valid = validate_worker_request(c.request);
        ASSERT_FALSE(valid.has_value()) << c.message;
        EXPECT_EQ(valid.error(),
                  fixed_failure("invalid_request", c.message, exit_code::invalid_request));
    }
    // Presence only: SID text is not parsed, an empty argument after the program is fine.
    EXPECT_TRUE(validate_worker_request(with([](WorkerRequest& r) {
                    r.account_sid = "not a sid";
                    r.command = {"p", ""};
                })).has_value());
}

TEST(WorkerRequestValidate, VersionTwoParsesAndThenFailsValidation) {
    const auto request = parse_worker_request(request_text(kPolicy, "", R"("version":2,)"));
    ASSERT_TRUE(request.has_value()) << request.error();
    EXPECT_EQ(validate_worker_request(*request).error().message,
              "Unsupported worker protocol version: 2.");
}

}  // namespace
}  // namespace quarvel
