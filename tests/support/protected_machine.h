#pragma once
// A throwaway simulated machine on which the built program runs its operations as separate
// processes, as a host would start it: setup, probe and protected runs, with the machine's state
// (files, access lists, accounts, firewall rules, processes) open to inspection by the test.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/wide_text.h"
#include "support/host_process.h"
#include "support/process_runner.h"

namespace quarvel::testing {

class ProtectedMachine : public ::testing::Test {
  protected:
    static constexpr const char* kStateDir = "C:\\ProgramData\\Quarvel";
    static constexpr const char* kStatusFile = "C:\\work\\status.json";

    void SetUp() override {
        machine_ = use_fresh_machine();
        for (const char* folder : {"project", "out", "tools", "runtime", "sibling"})
            std::filesystem::create_directories(host("C:\\work\\") / folder);
    }
    void TearDown() override {
        winsim::clear_faults();
        std::error_code ignored;
        std::filesystem::remove_all(machine_, ignored);
    }

    // The host path of a Windows path on the machine's C: drive.
    std::filesystem::path host(const std::string& windows_path) const {
        std::string relative = windows_path.substr(3);
        for (auto& c : relative)
            if (c == '\\')
                c = '/';
        return std::filesystem::path(machine_) / "C" / relative;
    }

    static std::string contents(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return "<missing>";
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    ProcessOutcome program(std::vector<std::string> arguments,
                           const ProcessOptions& options = {}) const {
        arguments.insert(arguments.begin(), QUARVEL_EXE);
        return run_process(arguments, options);
    }

    ProcessOutcome setup(const ProcessOptions& options = {}) const {
        return program({"setup", "--state-dir", kStateDir, "--status-file", kStatusFile}, options);
    }
    ProcessOutcome probe() const {
        return program({"probe", "--state-dir", kStateDir, "--status-file", kStatusFile});
    }

    // A machine prepared by the program's own setup; the test stops when that fails.
    void prepare() {
        const auto outcome = setup();
        ASSERT_EQ(outcome.exit_code, 0) << outcome.standard_error;
    }

    // Writes the policy (JSON members after the three required ones) to C:\work\policy.json.
    void write_policy(const std::string& extra_members = "") const {
        std::ofstream(host("C:\\work\\policy.json"))
            << R"({"cwd":"C:\\work\\project","runtime_dir":"C:\\work\\runtime",)"
            << R"("status_file":"C:\\work\\status.json")" << extra_members << "}";
    }

    // The command line, program first, of `run` of the test's protected command program with
    // these arguments, for tests that start the runner themselves.
    static std::vector<std::string> run_arguments(
        const std::vector<std::string>& command_arguments) {
        std::vector<std::string> arguments = {QUARVEL_EXE, "run",  "--state-dir", kStateDir,
                                              "--policy",  "C:\\work\\policy.json", "--"};
        arguments.push_back(windows_form(test_program("sandboxed_command")));
        arguments.insert(arguments.end(), command_arguments.begin(), command_arguments.end());
        return arguments;
    }

    // `run` of the test's protected command program with these arguments.
    ProcessOutcome run(const std::vector<std::string>& command_arguments,
                       const ProcessOptions& options = {}) const {
        return run_process(run_arguments(command_arguments), options);
    }

    std::string status() const { return contents(host(kStatusFile)); }
    std::string marker() const { return contents(host(std::string(kStateDir) + "\\setup.json")); }

    std::string machine_;
};

}  // namespace quarvel::testing
