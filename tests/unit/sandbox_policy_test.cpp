#include <gtest/gtest.h>

#include <string>

#include "documents/sandbox_policy.h"

namespace quarvel {
namespace {

constexpr std::string_view kMinimal =
    R"({"cwd":"C:\\work","runtime_dir":"C:\\run","status_file":"C:\\state\\status.json"})";

std::vector<WideString> wide_list(std::initializer_list<const char*> texts) {
    std::vector<WideString> list;
    for (const char* text : texts)
        list.push_back(to_wide(text));
    return list;
}

SandboxPolicy full_policy() {
    SandboxPolicy policy;
    policy.cwd = to_wide("C:\\work");
    policy.writable_roots = wide_list({"C:\\out", "D:\\cache"});
    policy.readable_roots = wide_list({"C:\\tools"});
    policy.runtime_dir = to_wide("C:\\run");
    policy.network = NetworkMode::disabled;
    policy.status_file = to_wide("C:\\state\\status.json");
    return policy;
}

std::string written(const SandboxPolicy& policy) {
    JsonWriter out;
    write_policy(out, policy);
    return std::move(out).finish().value();
}

TEST(SandboxPolicyParse, OnlyTheRequiredKeysGiveTheDefaults) {
    const auto policy = parse_policy(kMinimal);
    ASSERT_TRUE(policy.has_value()) << policy.error();
    EXPECT_EQ(policy->version, 1u);
    EXPECT_EQ(policy->cwd, to_wide("C:\\work"));
    EXPECT_TRUE(policy->writable_roots.empty());
    EXPECT_TRUE(policy->readable_roots.empty());
    EXPECT_EQ(policy->runtime_dir, to_wide("C:\\run"));
    EXPECT_EQ(policy->network, NetworkMode::enabled);
    EXPECT_EQ(policy->status_file, to_wide("C:\\state\\status.json"));
}

TEST(SandboxPolicyParse, TrailingBlanksAreAcceptedAndPathsKeptAsWritten) {
    const auto policy = parse_policy(
        "\n {\"cwd\":\"\",\"runtime_dir\":\"r\\u00e9l/./x\",\"status_file\":\"s\"} \n\n\t\r\n");
    ASSERT_TRUE(policy.has_value()) << policy.error();
    EXPECT_EQ(policy->cwd, WideString());
    EXPECT_EQ(policy->runtime_dir, to_wide("rél/./x"));
}

struct Rejected {
    std::string name;
    std::string text;
    std::string description;
};

// The rule cases that the end-to-end run tests do not already show in both lanes.
TEST(SandboxPolicyParse, DocumentsBreakingTheRulesAreRejectedWithTheirReason) {
    const std::vector<Rejected> cases = {
        {"null status file", R"({"cwd":"a","runtime_dir":"b","status_file":null})",
         "field `status_file` must be a string, found null at line 1, column 44"},
        {"missing runtime_dir before status_file", R"({"cwd":"a"})",
         "missing field `runtime_dir` at line 1, column 1"},
        {"missing cwd first", "{}", "missing field `cwd` at line 1, column 1"},
        {"wrong value before a missing key", R"({"network":1})",
         "field `network` must be one of \"enabled\", \"disabled\", found 1 at line 1, column 12"},
        {"not an object", "[]", "expected an object, found an array at line 1, column 1"},
    };
    for (const auto& rejected : cases) {
        const auto policy = parse_policy(rejected.text);
        ASSERT_FALSE(policy.has_value()) << rejected.name;
        EXPECT_EQ(policy.error(), rejected.description) << rejected.name;
    }
}

TEST(SandboxPolicyWrite, AllSevenKeysInDeclarationOrder) {
    EXPECT_EQ(written(full_policy()),
              R"({"version":1,"cwd":"C:\\work","writable_roots":["C:\\out","D:\\cache"],)"
              R"("readable_roots":["C:\\tools"],"runtime_dir":"C:\\run","network":"disabled",)"
              R"("status_file":"C:\\state\\status.json"})");
    const auto defaults = parse_policy(kMinimal).value();
    EXPECT_EQ(
        written(defaults),
        R"({"version":1,"cwd":"C:\\work","writable_roots":[],"readable_roots":[],)"
        R"("runtime_dir":"C:\\run","network":"enabled","status_file":"C:\\state\\status.json"})");
}

TEST(SandboxPolicyWrite, WrittenPolicyParsesBackUnchanged) {
    SandboxPolicy policy = full_policy();
    policy.version = 4294967295u;
    policy.cwd = to_wide("C:\\wörk \"quoted\"\n");
    EXPECT_EQ(parse_policy(written(policy)).value(), policy);
}

TEST(SandboxPolicyWrite, PathWithUnpairedSurrogateCannotBeWritten) {
    SandboxPolicy policy = full_policy();
    policy.readable_roots.back().push_back(static_cast<WCHAR>(0xD800));
    JsonWriter out;
    write_policy(out, policy);
    const auto text = std::move(out).finish();
    ASSERT_FALSE(text.has_value());
    EXPECT_EQ(text.error(), "path contains invalid UTF-8 characters");
}

TEST(SandboxPolicyValidate, FirstFailingRuleInOrderIsReported) {
    const auto policy_with = [](auto change) {
        SandboxPolicy policy = full_policy();
        change(policy);
        return policy;
    };
    const struct {
        SandboxPolicy policy;
        std::string message;
    } cases[] = {
        {policy_with([](SandboxPolicy& p) {
             p.version = 2;
             p.cwd = to_wide("relative");
         }),
         "Unsupported policy version: 2."},
        {policy_with([](SandboxPolicy& p) { p.version = 0; }), "Unsupported policy version: 0."},
        {policy_with([](SandboxPolicy& p) {
             p.cwd = to_wide("work");
             p.runtime_dir = to_wide("run");
         }),
         "Policy field cwd must be an absolute path."},
        {policy_with([](SandboxPolicy& p) {
             p.runtime_dir = to_wide("C:run");
             p.status_file = to_wide("s");
         }),
         "Policy field runtime_dir must be an absolute path."},
        {policy_with([](SandboxPolicy& p) { p.status_file = WideString(); }),
         "Policy field status_file must be an absolute path."},
        {policy_with([](SandboxPolicy& p) {
             p.writable_roots = wide_list({"C:\\a", "\\b"});
             p.readable_roots = wide_list({"c"});
         }),
         "Policy field writable_roots must be an absolute path."},
        {policy_with([](SandboxPolicy& p) {
             p.readable_roots = wide_list({"C:\\a", ".\\b"});
         }),
         "Policy field readable_roots must be an absolute path."},
    };
    for (const auto& c : cases) {
        const auto valid = validate_policy(c.policy);
        ASSERT_FALSE(valid.has_value()) << c.message;
        EXPECT_EQ(valid.error(),
                  fixed_failure("invalid_request", c.message, exit_code::invalid_request));
    }
    EXPECT_TRUE(validate_policy(full_policy()).has_value());
}

}  // namespace
}  // namespace quarvel
