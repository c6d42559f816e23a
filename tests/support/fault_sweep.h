#pragma once
// A fault sweep: record the simulated calls of a successful operation, repeat the operation once
// per call site with that call failing (and once per quirk the call supports), and judge every
// repetition: the failure it ends with must be one the failure tables list, its status document
// must agree with its error line, and nothing may be left behind. The repetitions run in
// forked children (support/forked_repetition.h).

#include <nlohmann/json.hpp>

#include <winsim/testing.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::testing {

// ---------------------------------------------------------------- call sites
// One line of a call log: "<role> <Function[@Kind]>[ fault]".
struct LoggedCall {
    std::string role;
    std::string site;
    bool faulted = false;
};
std::vector<LoggedCall> read_call_log(const std::string& path);

struct CallSite {
    std::string site;  // "Function[@Kind]"
    std::uint64_t nth = 1;
    // When set, `nth` counts the calls after the `anchor_nth` call of `anchor`: the site follows
    // a polling loop whose length differs from run to run.
    std::string anchor;
    std::uint64_t anchor_nth = 1;
    // A poll inside such a loop: reached only when the loop did not end at its first try.
    bool polling = false;
};

// The call sites of `role` (every role when empty) in a recorded successful sequence, in order.
// The runner's accept loop (ConnectNamedPipe, WaitForSingleObject on the worker) is folded into
// its first ConnectNamedPipe and its first poll; its calls after the loop are anchored.
std::vector<CallSite> call_sites(const std::vector<LoggedCall>& calls, std::string_view role);

struct Injection {
    CallSite at;
    winsim::FaultKind kind = winsim::FaultKind::fail;
    std::uint32_t value = 0;

    std::string function() const;  // the site without its kind of object
    std::string describe() const;  // "ReadFile@Pipe#3 fail 109"
};

// For each site, the call failing with a value a real system gives for it, then each quirk the
// simulated call supports.
std::vector<Injection> injections_for(const std::vector<CallSite>& sites);

// Arms the injection in this process, or names it for WINSIM_FAULTS, for a process of `role`.
void arm_in_process(const Injection& injection);
std::string faults_entry(std::string_view role, const Injection& injection);

// ---------------------------------------------------------------- judging
struct SweepExpectation {
    std::string operation;            // "setup", "probe", "run", or an in-process step
    std::int32_t success_exit = 0;    // the exit code of a successful repetition
    std::string success_status;       // the status document it publishes
    std::string success_stdout;       // its standard output
    std::string success_stderr_line;  // a line its standard error must hold (the command's)
    bool publishes_status = true;     // false for a step that has no status file
};

struct Verdict {
    enum class Kind { listed_failure, ignored, not_reached, misbehaved } kind;
    std::string note;
};

Verdict judge(const SweepExpectation& expected, const Injection& injection,
              const nlohmann::json& report);

// Counts per kind of verdict; prints them and every misbehaving repetition.
class SweepTally {
  public:
    explicit SweepTally(std::string operation) : operation_(std::move(operation)) {}
    void add(const Injection& injection, const Verdict& verdict);
    std::size_t misbehaved() const { return misbehaving_.size(); }
    std::string summary() const;

  private:
    std::string operation_;
    std::size_t repetitions_ = 0;
    std::set<std::string> sites_;
    std::map<Verdict::Kind, std::size_t> counts_;
    std::vector<std::string> misbehaving_;
    std::map<std::string, std::vector<std::string>> ignored_;  // by reason
};

}  // namespace quarvel::testing
