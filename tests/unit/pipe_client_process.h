#pragma once
// Starts the pipe_client test program (tests/programs) as a separate process in either lane:
// through the simulated host's CreateProcessW on the host, through Wine's under Wine.

#include <string>

#include "cli/failure.h"
#include "platform/unique_resource.h"

// Compares two failures and shows them as text when they differ.
#define EXPECT_FAILURE_EQ(actual, expected) \
    EXPECT_EQ(::quarvel::testing::describe(actual), ::quarvel::testing::describe(expected))

namespace quarvel::testing {

inline std::string describe(const Failure& failure) {
    return "{" + failure.code + ", \"" + failure.message + "\", " +
           std::to_string(failure.exit_code) + "}";
}

struct ClientProcess {
    UniqueHandle process;
    DWORD id = 0;
};

// pipe_client <pipe name> <action> <argument>, running; fails the calling test when it cannot
// be started.
ClientProcess start_pipe_client(const std::string& pipe_name, const std::string& action,
                                const std::string& argument = "");

// The exit code once the process has ended, waiting up to `milliseconds`; 0xFFFFFFFF when it
// does not end in time.
DWORD wait_for_exit_code(HANDLE process, DWORD milliseconds = 60'000);

// The SID text of this process's user, for the owner entry of a test pipe.
std::string current_user_sid();

}  // namespace quarvel::testing
