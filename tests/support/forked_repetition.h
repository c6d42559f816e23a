#pragma once
// Repetitions of an operation, each in a child process forked from the test: its own simulated
// machine, environment and fault registry. The child reports what it saw as JSON; these are
// the pieces a child puts its report together with.

#include <nlohmann/json.hpp>

#include <winsim/testing.h>

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace quarvel::testing {

// Runs body(0) ... body(count - 1), each in a child forked from this process, at most
// QUARVEL_SWEEP_PARALLEL (default 4) at a time. A body returns its report; a child that dies
// or outlives `limit_seconds` is reported as {"crashed": "<how>"}.
std::vector<nlohmann::json> run_forked(std::size_t count,
                                       const std::function<nlohmann::json(std::size_t)>& body,
                                       unsigned limit_seconds = 60);

// Child side. A copy of `template_machine` (or a new, empty directory) at `machine`, made the
// machine of this process.
void use_machine(const std::string& machine, const std::string& template_machine = "");
// Standard output and error of this process into the files "stdout" and "stderr" there.
void capture_standard_streams(const std::string& directory);
// Starts `arguments` with `environment` added to this process's, its standard output and error
// into files in `directory`; waits at most `limit_seconds` (then kills it). Fills "exit_code",
// "stdout", "stderr" and "timed_out" of `report`.
void run_program(const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment,
                 const std::string& directory, unsigned limit_seconds, nlohmann::json& report);
// What a repetition leaves for the judge to look at: the processes of the machine still running
// after a grace period, its jobs, the status file, and the calls that took a fault.
void report_leftovers(const std::string& machine, const std::string& status_host_path,
                      const std::string& call_log, nlohmann::json& report);
// Access entries on these Windows paths for SIDs that are neither well known nor the machine's
// own accounts and groups: a run's capability SID left behind.
nlohmann::json foreign_sid_entries(const std::vector<std::string>& windows_paths,
                                   const std::string& machine_sid_prefix);
std::string read_text(const std::string& path);

// Handles, LocalAlloc blocks, COM objects and BSTRs of this process, to compare before and after.
struct ResourceCounts {
    std::size_t handles = 0;
    std::size_t allocations = 0;
    std::size_t com_objects = 0;
    std::size_t bstrs = 0;
    std::size_t safe_arrays = 0;
};
ResourceCounts resource_counts();
nlohmann::json leaks_since(const ResourceCounts& before);

}  // namespace quarvel::testing
