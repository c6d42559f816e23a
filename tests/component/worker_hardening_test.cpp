// The worker's defences against what no simulated call can cause: a forwarding thread that
// cannot start for want of memory, and an allocation between a failing token call and the
// reading of its error. Both go through this binary's own operator new.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include "support/allocation_faults.h"
#include "support/anonymous_pipe.h"
#include "support/fault_row.h"
#include "support/leak_checked_test.h"
#include "windows/process/forwarding_thread.h"
#include "windows/security/token_information.h"

namespace quarvel {
namespace {

class WorkerHardening : public testing::LeakCheckedTest {};

TEST_F(WorkerHardening, AForwardingThreadThatCannotStartIsAFailureThatReleasesWhatItWasGiven) {
    // The first allocation holds the thread's outcome, the second the thread's own state.
    for (const std::size_t nth : {1u, 2u}) {
        auto output = testing::anonymous_pipe();
        auto channel_pipe = testing::anonymous_pipe();
        ASSERT_TRUE(output.read && channel_pipe.write) << nth;
        auto channel = SharedChannel::create(std::move(channel_pipe.write));
        const auto handles = winsim::open_handle_count();

        std::optional<Result<ForwardingThread>> started;
        {
            testing::FailingAllocation failing(nth);
            started.emplace(ForwardingThread::start(std::move(output.read), channel,
                                                    OutputStream::standard_output));
            EXPECT_TRUE(failing.hit()) << nth;
        }
        ASSERT_FALSE(*started) << nth;
        EXPECT_EQ(started->error(),
                  fixed_failure("output_forward_failed",
                                "Could not start protected command output worker.", 70));
        EXPECT_EQ(channel.use_count(), 1) << nth;
        EXPECT_EQ(winsim::open_handle_count(), handles - 1) << nth;  // the read end is closed
    }
}

TEST_F(WorkerHardening, ATokenReadFailureCarriesTheErrorOfTheFailingCall) {
    UniqueHandle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
    const testing::FaultRow rows[] = {
        {"GetTokenInformation", 1, 8, winsim::FaultKind::fail, "token_logon_sid_failed",
         "Could not size protected logon identity. Windows error 8."},
        {"GetTokenInformation", 2, 998, winsim::FaultKind::fail, "token_logon_sid_failed",
         "Could not read protected logon identity. Windows error 998."},
    };
    for (const auto& row : rows) {
        testing::arm(row);
        std::optional<Result<TokenInformation>> read;
        {
            // Anything allocated after the failing call would leave 4242 behind.
            testing::AllocationsOverwriteLastError overwrite(4242);
            read.emplace(read_token_information(token.get(), TokenGroups, "token_logon_sid_failed",
                                                "protected logon identity"));
        }
        ASSERT_FALSE(*read);
        EXPECT_EQ(read->error().message, row.message);
    }
    // Sizes near 4 GiB must not wrap round to a small buffer.
    EXPECT_EQ(token_buffer_words(0xFFFFFFFFu), 0x20000000u);
}

}  // namespace
}  // namespace quarvel
