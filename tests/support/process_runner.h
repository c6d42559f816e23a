#pragma once
// Starts a program as a separate POSIX process and collects what it printed (host lane tests).

#include <map>
#include <string>
#include <vector>

namespace quarvel::testing {

struct ProcessOutcome {
    int exit_code = -1;
    std::string standard_output;
    std::string standard_error;
};

struct ProcessOptions {
    // Variables set (or, with an empty optional-like value "\x01unset", removed) for the child.
    std::map<std::string, std::string> environment;
    std::string working_directory;
    std::string standard_input;
};

// Runs `arguments` (program first) and waits for it; throws std::runtime_error when the
// process cannot be started.
ProcessOutcome run_process(const std::vector<std::string>& arguments,
                           const ProcessOptions& options = {});

// The program under test, as the e2e suite is told: QUARVEL_EXE, started through Wine when
// it names a .exe. Returns the argument prefix to put in front of the program's arguments.
std::vector<std::string> program_under_test();

// "host" or "wine", from QUARVEL_LANE.
std::string lane();

}  // namespace quarvel::testing
