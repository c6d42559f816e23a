// The fault sweep: every simulated call that setup, probe, run, the worker and the command
// launch make in a successful operation is made to fail once (and once per quirk it supports),
// and each repetition must end as the failure tables say, report the same failure in its status
// file and on standard error, and leave no process, job, capability entry or resource behind.
//
// setup, probe and the command launch run in-process (in a forked child), so that their handles,
// LocalAlloc blocks, COM objects and BSTRs are counted; run and its worker run as the built
// program, the worker's calls failing through faults armed for its role. The runner's accept
// loop, whose length depends on how fast the worker connects, is folded into its first connect
// and its first poll; its calls after the loop are counted from the first call behind it.
// QUARVEL_SWEEP_VERBOSE=1 prints the verdict of every repetition.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

#include "cli/dispatch.h"
#include "cli/failure.h"
#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "support/fault_sweep.h"
#include "support/forked_repetition.h"
#include "support/host_process.h"
#include "support/started_program.h"
#include "windows/process/command_launch.h"

namespace quarvel {
namespace {

using nlohmann::json;
using testing::Injection;

constexpr const char* kStateDir = R"(C:\ProgramData\Quarvel)";
constexpr const char* kPolicy = R"(C:\work\policy.json)";
constexpr const char* kReady =
    R"({"version":1,"operation":"%s","state":"ready","code":"ready","message":"Windows command protection is ready.","setup_version":2})";
constexpr const char* kCompleted =
    R"({"version":1,"operation":"run","state":"completed","code":"completed","message":"Protected command completed.","setup_version":2,"exit_code":3})";
const std::vector<std::string> kCommand = {"/bin/sh", "-c", "echo out; echo err >&2; exit 3"};
const std::vector<std::string> kWorkspace = {R"(C:\work\project)", R"(C:\work\out)",
                                             R"(C:\work\tools)", R"(C:\work\runtime)"};

std::string ready_document(const std::string& operation) {
    // Put together piece by piece: GCC 12 takes a replace in place for an overlapping copy at -O3.
    const std::string_view ready = kReady;
    const auto at = ready.find("%s");
    std::string text(ready.substr(0, at));
    text += operation;
    text += ready.substr(at + 2);
    return text;
}

std::vector<WideString> wide(const std::vector<std::string>& words) {
    std::vector<WideString> converted;
    for (const auto& word : words)
        converted.push_back(to_wide(word));
    return converted;
}

// An operation repeated in a child process: its directory, and the fault to arm, if any.
using RepetitionBody = std::function<json(const std::string&, const std::optional<Injection>&)>;

class FaultSweep : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/quarvel-sweep-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    std::string directory(const std::string& name) const {
        const std::string path = root_ + "/" + name;
        std::filesystem::create_directories(path);
        return path;
    }

    // Records the calls of one successful repetition, then fails each call site of `role` in
    // turn; every repetition must behave.
    void sweep(const testing::SweepExpectation& expected, const std::string& role,
               const RepetitionBody& body) {
        const std::string recorded_in = directory(expected.operation + "-recorded");
        const json recorded =
            testing::run_forked(1, [&](std::size_t) { return body(recorded_in, std::nullopt); })[0];
        ASSERT_EQ(recorded.value("exit_code", -1), expected.success_exit) << recorded.dump(2);
        ASSERT_EQ(recorded["status"], expected.success_status) << recorded.dump(2);
        const auto sites =
            testing::call_sites(testing::read_call_log(recorded_in + "/calls.log"), role);
        ASSERT_FALSE(sites.empty());
        const auto injections = testing::injections_for(sites);

        const auto reports = testing::run_forked(injections.size(), [&](std::size_t index) {
            return body(directory(expected.operation + "-" + std::to_string(index)),
                        injections[index]);
        });
        testing::SweepTally tally(expected.operation + (role.empty() ? "" : " (" + role + ")"));
        for (std::size_t k = 0; k < injections.size(); ++k)
            tally.add(injections[k], testing::judge(expected, injections[k], reports[k]));
        std::cout << tally.summary();
        EXPECT_EQ(tally.misbehaved(), 0u) << tally.summary();
    }

    // A machine prepared in a child, so that this process never uses a simulated machine itself.
    std::string prepared_machine(const std::string& name,
                                 const std::function<void(const std::string&)>& prepare) {
        const std::string machine = directory(name) + "/machine";
        const json done = testing::run_forked(1, [&](std::size_t) {
            testing::use_machine(machine);
            testing::capture_standard_streams(root_ + "/" + name);
            prepare(machine);
            return json{{"prepared", true}};
        })[0];
        EXPECT_TRUE(done.value("prepared", false)) << done.dump();
        return machine;
    }

    std::string set_up_machine() {
        return prepared_machine("set-up", [](const std::string& machine) {
            const auto arguments = wide(
                {"setup", "--state-dir", kStateDir, "--status-file", R"(C:\status\setup.json)"});
            if (cli::run_program(arguments) != 0)
                throw std::runtime_error("setup failed");
            std::filesystem::remove_all(machine + "/C/status");
            for (const char* folder : {"project", "out", "tools", "runtime"})
                std::filesystem::create_directories(machine + "/C/work/" + folder);
            std::ofstream(machine + "/C/work/policy.json")
                << R"({"version":1,"cwd":"C:\\work\\project","writable_roots":["C:\\work\\out"],)"
                   R"("readable_roots":["C:\\work\\tools"],"runtime_dir":"C:\\work\\runtime",)"
                   R"("network":"disabled","status_file":"C:\\work\\status.json"})";
        });
    }

    // The prefix of the machine's own account SIDs, "S-1-5-21-a-b-c-".
    static std::string machine_sid_prefix(const std::string& machine) {
        const auto marker = json::parse(
            testing::read_text(machine + "/C/ProgramData/Quarvel/setup.json"), nullptr, false);
        const std::string group = marker.value("group_sid", "");
        return group.substr(0, group.rfind('-') + 1);
    }

    std::string root_;
};

// The body of an in-process repetition of `operation`: a copy of `template_machine` (or a new
// machine), the call log, the fault, the operation through the program's own dispatch, and
// what it left behind.
RepetitionBody in_process(const std::vector<std::string>& arguments, const std::string& status_file,
                          const std::string& template_machine) {
    return [=](const std::string& dir, const std::optional<Injection>& injection) {
        const std::string machine = dir + "/machine";
        testing::use_machine(machine, template_machine);
        testing::capture_standard_streams(dir);
        for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
            GetStdHandle(which);  // they live as long as the process
        const auto before = testing::resource_counts();
        ::setenv("WINSIM_CALL_LOG", (dir + "/calls.log").c_str(), 1);
        if (injection)
            testing::arm_in_process(*injection);
        json report;
        report["exit_code"] = cli::run_program(wide(arguments));
        ::unsetenv("WINSIM_CALL_LOG");
        winsim::clear_faults();
        report["leaks"] = testing::leaks_since(before);
        report["stdout"] = testing::read_text(dir + "/stdout");
        report["stderr"] = testing::read_text(dir + "/stderr");
        testing::report_leftovers(machine, machine + "/C/status/" + status_file, dir + "/calls.log",
                                  report);
        return report;
    };
}

TEST_F(FaultSweep, EveryFailingCallOfSetupEndsAsTheTablesSayAndReleasesEverything) {
    sweep(
        {"setup", 0, ready_document("setup"), ready_document("setup") + "\n", "", true}, "",
        in_process({"setup", "--state-dir", kStateDir, "--status-file", R"(C:\status\setup.json)"},
                   "setup.json", ""));
}

// Setup again on a prepared machine: the paths that refresh what exists (the group and the
// accounts exist, passwords are reset, the rule is rewritten, the settings files replaced).
TEST_F(FaultSweep, EveryFailingCallOfASecondSetupEndsAsTheTablesSayAndReleasesEverything) {
    const std::string machine = set_up_machine();
    sweep(
        {"setup", 0, ready_document("setup"), ready_document("setup") + "\n", "", true}, "",
        in_process({"setup", "--state-dir", kStateDir, "--status-file", R"(C:\status\setup.json)"},
                   "setup.json", machine));
}

TEST_F(FaultSweep, EveryFailingCallOfProbeEndsAsTheTablesSayAndReleasesEverything) {
    const std::string machine = set_up_machine();
    sweep(
        {"probe", 0, ready_document("probe"), ready_document("probe") + "\n", "", true}, "",
        in_process({"probe", "--state-dir", kStateDir, "--status-file", R"(C:\status\probe.json)"},
                   "probe.json", machine));
}

// The body of a repetition of `run` as the built program, with the fault armed for `role`.
RepetitionBody program_run(const std::string& role, const std::string& template_machine,
                           const std::string& sid_prefix) {
    return [=](const std::string& dir, const std::optional<Injection>& injection) {
        const std::string machine = dir + "/machine";
        testing::use_machine(machine, template_machine);
        std::vector<std::string> arguments = {QUARVEL_EXE, "run",   "--state-dir", kStateDir,
                                              "--policy",  kPolicy, "--"};
        arguments.insert(arguments.end(), kCommand.begin(), kCommand.end());
        std::map<std::string, std::string> environment = {{"WINSIM_CALL_LOG", dir + "/calls.log"},
                                                          {"QUARVEL_NATIVE_TRACE", "1"}};
        if (injection)
            environment["WINSIM_FAULTS"] = testing::faults_entry(role, *injection);
        json report;
        report["role"] = role;
        testing::run_program(arguments, environment, dir, 40, report);
        testing::report_leftovers(machine, machine + "/C/work/status.json", dir + "/calls.log",
                                  report);
        report["foreign_entries"] = testing::foreign_sid_entries(kWorkspace, sid_prefix);
        return report;
    };
}

TEST_F(FaultSweep, EveryFailingCallOfTheRunnerEndsAsTheTablesSayAndLeavesNothingBehind) {
    const std::string machine = set_up_machine();
    sweep({"run", 3, kCompleted, "out\n", "err", true}, "run",
          program_run("run", machine, machine_sid_prefix(machine)));
}

TEST_F(FaultSweep, EveryFailingCallOfTheWorkerEndsTheRunAsTheTablesSayAndLeavesNothingBehind) {
    const std::string machine = set_up_machine();
    sweep({"run", 3, kCompleted, "out\n", "err", true}, "__worker",
          program_run("__worker", machine, machine_sid_prefix(machine)));
}

// The worker's launch of the command, in-process: restricted token, desktop, pipes, process,
// job, the wait; progress frames go to a pipe of the test.
json launch_repetition(const std::string& dir, const std::optional<Injection>& injection) {
    const std::string machine = dir + "/machine";
    testing::use_machine(machine);
    testing::capture_standard_streams(dir);
    for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
        GetStdHandle(which);
    const auto before = testing::resource_counts();
    json report;
    {
        HANDLE read = nullptr;
        HANDLE write = nullptr;
        if (!CreatePipe(&read, &write, nullptr, 1 << 16))
            throw std::runtime_error("no progress pipe");
        UniqueHandle progress_read(read);
        UniqueHandle progress_write(write);
        const CommandSpec spec{kCommand, to_wide(testing::windows_form(dir)),
                               "S-1-5-21-1000-2000-3000-1010", "S-1-5-21-1000-2000-3000-4000"};
        ::setenv("WINSIM_CALL_LOG", (dir + "/calls.log").c_str(), 1);
        if (injection)
            testing::arm_in_process(*injection);
        Result<DWORD> exit_code = std::unexpected(Failure{});
        UniqueHandle output;
        UniqueHandle error;
        if (auto launched = launch_command(spec, progress_write.get(), true)) {
            output = launched->take_stdout();
            error = launched->take_stderr();
            exit_code = wait_for_exit(std::move(*launched));
        } else {
            exit_code = std::unexpected(launched.error());
        }
        // What follows is the test's own reading, not the launch's.
        ::unsetenv("WINSIM_CALL_LOG");
        winsim::clear_faults();
        const std::string out = testing::read_all(output.get());
        const std::string err = testing::read_all(error.get());
        report["exit_code"] =
            exit_code ? static_cast<int>(*exit_code) : exit_code.error().exit_code;
        report["stdout"] = out;
        report["stderr"] = exit_code ? err : error_line(exit_code.error()) + "\n";
    }
    report["leaks"] = testing::leaks_since(before);
    testing::report_leftovers(machine, machine + "/no-status", dir + "/calls.log", report);
    report["desktops"] = json::parse(winsim::desktops_json()).size();
    if (report["desktops"] != 0)
        report["leaks"]["desktops"] = report["desktops"];
    report["status"] = "";
    return report;
}

TEST_F(FaultSweep, EveryFailingCallOfTheCommandLaunchEndsAsTheTablesSayAndReleasesEverything) {
    sweep({"launch", 3, "", "out\n", "err", false}, "", launch_repetition);
}

}  // namespace
}  // namespace quarvel
