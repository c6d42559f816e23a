// Wine's environment, OpenProcess and GetNamedPipeClientProcessId give the answers the
// simulated host gives for the same cases (the host lane runs the same checks against the
// simulated host). Not among them: a pipe without a client, for which Wine reports success
// with an undefined process id.

#include <gtest/gtest.h>

#include "support/process_call_semantics.h"

namespace quarvel {
namespace {

TEST(ProcessCalls, EnvironmentResultsMatchWindows) {
    testing::expect_environment_results();
}
TEST(ProcessCalls, OpenProcessResultsMatchWindows) {
    testing::expect_open_process_results();
}
TEST(ProcessCalls, PipeClientProcessResultsMatchWindows) {
    testing::expect_pipe_client_process_results();
}

}  // namespace
}  // namespace quarvel
