// The simulated host's environment, OpenProcess and GetNamedPipeClientProcessId: the answers
// Windows gives (the same checks run against Wine in the Wine lane), what only the simulated
// host can show, and their fault injection.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <cstdlib>

#include "support/leak_checked_test.h"
#include "support/process_call_semantics.h"

namespace quarvel {
namespace {

class SimulatedProcessCalls : public testing::LeakCheckedTest {};

TEST_F(SimulatedProcessCalls, EnvironmentResultsMatchWindows) {
    testing::expect_environment_results();
}
TEST_F(SimulatedProcessCalls, OpenProcessResultsMatchWindows) {
    testing::expect_open_process_results();
}
TEST_F(SimulatedProcessCalls, PipeClientProcessResultsMatchWindows) {
    testing::expect_pipe_client_process_results();
}

TEST_F(SimulatedProcessCalls, AnUnpairedSurrogateInTheHostEnvironmentReachesTheProgram) {
    // A process started with such a value finds it as WTF-8 in its POSIX environment.
    ::setenv("QUARVEL_TEST_SURROGATE", "x\xED\xA0\x80y", 1);
    WCHAR buffer[8] = {};
    EXPECT_EQ(GetEnvironmentVariableW(WIDE("QUARVEL_TEST_SURROGATE"), buffer, 8), 3u);
    EXPECT_EQ(buffer[1], 0xD800);
    ::unsetenv("QUARVEL_TEST_SURROGATE");
}

TEST_F(SimulatedProcessCalls, APipeWithoutClientHasNoClientProcess) {
    auto pipe = create_protected_pipe(testing::current_user_sid(), testing::current_user_sid());
    ASSERT_TRUE(pipe) << pipe.error().message;
    ULONG id = 0;
    EXPECT_FALSE(GetNamedPipeClientProcessId(pipe->handle.get(), &id));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_LISTENING));
}

TEST_F(SimulatedProcessCalls, InjectedFailuresReachEachCall) {
    for (const char* function : {"GetEnvironmentVariableW", "SetEnvironmentVariableW",
                                 "GetNamedPipeClientProcessId", "OpenProcess"})
        winsim::inject_fault(function, ERROR_NOT_ENOUGH_MEMORY);
    WCHAR buffer[8] = {};
    EXPECT_EQ(GetEnvironmentVariableW(WIDE("PATH"), buffer, 8), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_FALSE(SetEnvironmentVariableW(WIDE("QUARVEL_TEST_VALUE"), WIDE("x")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    ULONG id = 0;
    EXPECT_FALSE(GetNamedPipeClientProcessId(reinterpret_cast<HANDLE>(0x7FFFF0), &id));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(OpenProcess(SYNCHRONIZE, FALSE, GetCurrentProcessId()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(winsim::pending_fault_count(), 0u);
}

}  // namespace
}  // namespace quarvel
