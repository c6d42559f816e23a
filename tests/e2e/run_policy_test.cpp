// `run` up to its policy checks, seen from outside: a policy that cannot be read or parsed
// leaves every status file untouched; one that fails validation, or passes it, ends in a failed
// status document at the policy's status_file. The same suite runs against the host build and
// the .exe under Wine, with the same expected bytes (the system's own error texts aside).

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/e2e_directory.h"
#include "support/process_runner.h"

namespace quarvel::testing {
namespace {

constexpr std::string_view kPrevious = "previous status document";

class RunPolicy : public E2eDirectory {
  protected:
    RunPolicy() : E2eDirectory("run", {"out", "cwd"}) {}

    // The Windows form of a path under the test directory, as a JSON string's contents.
    std::string json_windows(const std::string& relative) const {
        std::string escaped;
        for (char c : windows(relative)) {
            if (c == '\\')
                escaped += '\\';
            escaped += c;
        }
        return escaped;
    }

    // A policy whose three required paths are absolute, with `members` added at the end.
    std::string policy(const std::string& members = "") const {
        return R"({"cwd":")" + json_windows("cwd") + R"(","runtime_dir":")" + json_windows("cwd") +
               R"(","status_file":")" + json_windows("out/status.json") + "\"" + members + "}";
    }

    ProcessOutcome run_with(const std::string& policy_file) const {
        auto command = program_under_test();
        for (const char* argument : {"run", "--state-dir"})
            command.push_back(argument);
        command.push_back(windows("state"));
        command.push_back("--policy");
        command.push_back(windows(policy_file));
        for (const char* argument : {"--", "cmd.exe", "/c", "exit 0"})
            command.push_back(argument);
        ProcessOptions options;
        options.working_directory = (dir_ / "cwd").string();
        options.environment["WINSIM_MACHINE"] = (dir_ / "machine").string();
        return run_process(command, options);
    }

    static std::string failed_run_document(const std::string& code, const std::string& message) {
        const std::string state = code == "setup_required" ? code : "failed";
        return R"({"version":1,"operation":"run","state":")" + state + R"(","code":")" + code +
               R"(","message":")" + message + R"(","setup_version":2})";
    }

    static std::string error_line(const std::string& code, const std::string& message) {
        return R"({"code":")" + code + R"(","message":")" + message + "\"}\n";
    }
};

TEST_F(RunPolicy, PoliciesThatCannotBeParsedLeaveTheStatusFileUntouched) {
    const struct {
        std::string name;
        std::string text;
        std::string description;  // after "Invalid policy JSON: "
    } cases[] = {
        {"byte-order mark", "\xEF\xBB\xBF" + policy(),
         "byte-order mark before the document at line 1, column 1"},
        {"unknown key", policy(R"(,"shell":1)"),
         "unknown field `shell` at line 1, column " + std::to_string(policy().size() + 1)},
        {"repeated key", policy(R"(,"cwd":"C:\\w")"),
         "duplicate field `cwd` at line 1, column " + std::to_string(policy().size() + 1)},
        {"null root list", policy(R"(,"readable_roots":null)"),
         "field `readable_roots` must be an array of strings, found null at line 1, column " +
             std::to_string(policy().size() + 18)},
        {"network in another letter case", policy(R"(,"network":"Enabled")"),
         R"(field `network` must be one of \"enabled\", \"disabled\" at line 1, column )" +
             std::to_string(policy().size() + 11)},
        {"negative version", R"({"version":-1,)" + policy().substr(1),
         "field `version` must be an integer from 0 to 4294967295, found -1 at line 1, column 12"},
        {"fractional version", R"({"version":1.0,)" + policy().substr(1),
         "field `version` must be an integer from 0 to 4294967295, found 1.0 at line 1, column 12"},
        {"second object", policy() + "\n{}",
         "syntax error while parsing value - unexpected '{'; expected end of input at line 2, "
         "column 1"},
    };
    for (const auto& c : cases) {
        put("out/status.json", kPrevious);
        put("policy.json", c.text);
        const auto outcome = run_with("policy.json");
        EXPECT_EQ(outcome.exit_code, 64) << c.name;
        EXPECT_EQ(outcome.standard_output, "") << c.name;
        EXPECT_EQ(outcome.standard_error,
                  error_line("invalid_request", "Invalid policy JSON: " + c.description))
            << c.name;
        EXPECT_EQ(contents("out/status.json"), kPrevious) << c.name;
    }
}

TEST_F(RunPolicy, UnreadablePolicyIsAnIoErrorAndWritesNoStatusFile) {
    const auto outcome = run_with("missing.json");
    EXPECT_EQ(outcome.exit_code, 74);
    EXPECT_EQ(outcome.standard_output, "");
    const std::string prefix = R"({"code":"io_error","message":"Could not read policy: )";
    EXPECT_TRUE(outcome.standard_error.starts_with(prefix)) << outcome.standard_error;
    EXPECT_TRUE(outcome.standard_error.ends_with(" (os error 2)\"}\n")) << outcome.standard_error;
    // The system's own text is Windows' wording only in the simulated host.
    if (lane() == "host") {
        EXPECT_EQ(outcome.standard_error,
                  prefix + "The system cannot find the file specified. (os error 2)\"}\n");
    }
    EXPECT_EQ(contents("out/status.json"), "<missing>");
}

TEST_F(RunPolicy, ValidationFailuresArePublishedToTheStatusFile) {
    const struct {
        std::string name;
        std::string text;
        std::string message;
    } cases[] = {
        {"version 2", R"({"version":2,)" + policy().substr(1), "Unsupported policy version: 2."},
        {"relative cwd before relative runtime_dir",
         R"({"cwd":"work","runtime_dir":".\\run","status_file":")" +
             json_windows("out/status.json") + "\"}",
         "Policy field cwd must be an absolute path."},
        {"drive-relative runtime_dir",
         R"({"cwd":"C:\\w","runtime_dir":"C:run","status_file":")" +
             json_windows("out/status.json") + "\"}",
         "Policy field runtime_dir must be an absolute path."},
        {"second readable root relative",
         policy(R"(,"writable_roots":["C:\\a","\\\\server\\share\\b"],)"
                R"("readable_roots":["C:\\c","d"])"),
         "Policy field readable_roots must be an absolute path."},
        {"rooted writable root", policy(R"(,"writable_roots":["\\a"])"),
         "Policy field writable_roots must be an absolute path."},
    };
    for (const auto& c : cases) {
        put("out/status.json", kPrevious);
        put("policy.json", c.text);
        const auto outcome = run_with("policy.json");
        EXPECT_EQ(outcome.exit_code, 64) << c.name;
        EXPECT_EQ(outcome.standard_output, "") << c.name;
        EXPECT_EQ(outcome.standard_error, error_line("invalid_request", c.message)) << c.name;
        EXPECT_EQ(contents("out/status.json"), failed_run_document("invalid_request", c.message))
            << c.name;
    }
}

// A relative status file names no place the host chose: the error line alone reports.
TEST_F(RunPolicy, RelativeStatusFileGetsNothingPublished) {
    put("policy.json", R"({"cwd":"C:\\w","runtime_dir":"C:\\r","status_file":"rel\\status.json"})");
    const auto outcome = run_with("policy.json");
    const std::string message = "Policy field status_file must be an absolute path.";
    EXPECT_EQ(outcome.exit_code, 64);
    EXPECT_EQ(outcome.standard_error, error_line("invalid_request", message));
    EXPECT_EQ(contents("cwd/rel/status.json"), "<missing>");
}

TEST_F(RunPolicy, UnpublishableStatusFileStaysSilent) {
    put("blocker", "a file where a directory should be");
    put("policy.json", R"({"cwd":"work","runtime_dir":"C:\\r","status_file":")" +
                           json_windows("blocker/status.json") + "\"}");
    const auto outcome = run_with("policy.json");
    EXPECT_EQ(outcome.exit_code, 64);
    EXPECT_EQ(outcome.standard_error,
              error_line("invalid_request", "Policy field cwd must be an absolute path."));
}

TEST_F(RunPolicy, ValidPolicyWithTrailingBlanksReachesTheSetupCheck) {
    put("out/status.json", kPrevious);
    put("policy.json", policy(R"(,"network":"disabled","writable_roots":[])") + "  \n\t\r\n ");
    const auto outcome = run_with("policy.json");
    const std::string message = "Windows command protection has not been set up.";
    EXPECT_EQ(outcome.exit_code, 78);
    EXPECT_EQ(outcome.standard_output, "");
    EXPECT_EQ(outcome.standard_error, error_line("setup_required", message));
    EXPECT_EQ(contents("out/status.json"), failed_run_document("setup_required", message));
    for (const auto& entry : std::filesystem::directory_iterator(dir_ / "out"))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".quarvel-status-"))
            << "temporary file left: " << entry.path();
}

}  // namespace
}  // namespace quarvel::testing
