// The session-wide access lock on the simulated host: processes that change one directory's
// list at once take turns and lose nothing, a holder that dies or ends without releasing lets
// the next one in, and the lock's failure rows.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/wide_text.h"
#include "support/host_process.h"
#include "support/leak_checked_test.h"
#include "support/path_security.h"
#include "support/started_program.h"
#include "windows/security/access_lock.h"

namespace quarvel {
namespace {

const std::string kHolder = testing::test_program("access_lock_holder");

class AccessLockTest : public testing::LeakCheckedTest {};

TEST_F(AccessLockTest, SixteenProcessesGrantingAtOnceLoseNoEntry) {
    const WideString shared = to_wide("C:\\shared");
    ASSERT_TRUE(CreateDirectoryW(shared.c_str(), nullptr));
    std::vector<std::string> sids;
    std::vector<testing::StartedProgram> granters;
    for (int k = 0; k < 16; ++k) {
        sids.push_back("S-1-5-21-77-88-99-" + std::to_string(2000 + k));
        granters.push_back(testing::start_program(kHolder, "grant C:\\shared " + sids.back()));
        ASSERT_TRUE(granters.back().process.valid());
    }
    for (auto& granter : granters)
        EXPECT_EQ(testing::exit_code_within(granter.process.get(), 30000), 0u);
    const auto entries = testing::read_path_security(shared).entries;
    for (const auto& sid : sids)
        EXPECT_EQ(testing::entries_for(entries, sid).size(), 1u) << sid;
}

TEST_F(AccessLockTest, AWaiterProceedsWhenTheHolderIsKilled) {
    const WideString marker = to_wide("C:\\holding");
    auto holder = testing::start_program(kHolder, "hold C:\\holding");
    ASSERT_TRUE(testing::appears_within(marker, 10000));

    std::atomic<bool> acquired{false};
    std::thread waiter([&] {
        auto lock = acquire_access_lock();
        EXPECT_TRUE(lock) << (lock ? "" : lock.error().message);
        acquired = lock.has_value();
    });
    Sleep(200);
    EXPECT_FALSE(acquired.load());
    ASSERT_TRUE(TerminateProcess(holder.process.get(), 1));
    waiter.join();
    EXPECT_TRUE(acquired.load());
}

TEST_F(AccessLockTest, AHolderThatEndsWithoutReleasingLeavesTheLockAbandoned) {
    auto holder = testing::start_program(kHolder, "exit-holding");
    ASSERT_EQ(testing::exit_code_within(holder.process.get(), 30000), 0u);
    {
        UniqueHandle mutex(CreateMutexW(nullptr, FALSE, WIDE("Local\\QuarvelSandboxAcl")));
        ASSERT_TRUE(mutex.valid());
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
        // Nobody held the name open any more: the mutex is a new one.
        EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_OBJECT_0);
        ASSERT_TRUE(ReleaseMutex(mutex.get()));
    }
    // With the name held open here, the holder's end abandons the mutex to this process.
    UniqueHandle kept(CreateMutexW(nullptr, FALSE, WIDE("Local\\QuarvelSandboxAcl")));
    holder = testing::start_program(kHolder, "exit-holding");
    ASSERT_EQ(testing::exit_code_within(holder.process.get(), 30000), 0u);
    EXPECT_EQ(WaitForSingleObject(kept.get(), 0), static_cast<DWORD>(WAIT_ABANDONED));
    ASSERT_TRUE(ReleaseMutex(kept.get()));
    auto lock = acquire_access_lock();
    EXPECT_TRUE(lock);
}

TEST_F(AccessLockTest, EveryFailureGivesItsRowAndClosesTheHandle) {
    const struct Row {
        const char* function;
        std::uint32_t value;
        winsim::FaultKind kind;
        const char* message;
    } rows[] = {
        {"CreateMutexW", 5, winsim::FaultKind::fail,
         "Could not open command protection access lock. Windows error 5."},
        {"WaitForSingleObject", 6, winsim::FaultKind::fail,
         "Could not acquire command protection access lock."},
        {"WaitForSingleObject", WAIT_TIMEOUT, winsim::FaultKind::quirk,
         "Could not acquire command protection access lock."},
    };
    for (const auto& row : rows) {
        winsim::inject_fault(row.function, row.value, 1, row.kind);
        const auto lock = acquire_access_lock();
        ASSERT_FALSE(lock) << row.function;
        EXPECT_EQ(lock.error(), fixed_failure("acl_lock_failed", row.message, 70));
        EXPECT_EQ(winsim::open_handle_count(), handles_) << row.function;
    }
}

}  // namespace
}  // namespace quarvel
