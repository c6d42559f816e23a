// Mutexes on the simulated host: opening a name again, ownership by threads with recursion,
// release by the owner only, time-outs, and the rules for names.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <string>
#include <thread>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "support/leak_checked_test.h"

namespace quarvel {
namespace {

class SimulatedMutex : public testing::LeakCheckedTest {};

// What WaitForSingleObject gives on another thread.
DWORD wait_elsewhere(HANDLE mutex, DWORD milliseconds, bool release_after = true) {
    DWORD result = 0;
    std::thread([&] {
        result = WaitForSingleObject(mutex, milliseconds);
        if (release_after && (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED))
            ReleaseMutex(mutex);
    }).join();
    return result;
}

TEST_F(SimulatedMutex, ANamedMutexIsOwnedByOneThreadAtATimeAndOnlyItsOwnerReleasesIt) {
    UniqueHandle first(CreateMutexW(nullptr, TRUE, WIDE("Local\\owned")));
    ASSERT_TRUE(first.valid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    UniqueHandle again(CreateMutexW(nullptr, TRUE, WIDE("owned")));  // no prefix: Local
    ASSERT_TRUE(again.valid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    // Owned once by creation; the owner may take it again.
    EXPECT_EQ(WaitForSingleObject(again.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(wait_elsewhere(first.get(), 30), static_cast<DWORD>(WAIT_TIMEOUT));
    DWORD refused = 0;
    std::thread([&] { refused = ReleaseMutex(first.get()) ? 0 : GetLastError(); }).join();
    EXPECT_EQ(refused, static_cast<DWORD>(ERROR_NOT_OWNER));
    ASSERT_TRUE(ReleaseMutex(first.get()));
    EXPECT_EQ(wait_elsewhere(first.get(), 30), static_cast<DWORD>(WAIT_TIMEOUT));
    ASSERT_TRUE(ReleaseMutex(again.get()));
    EXPECT_EQ(wait_elsewhere(first.get(), 0), WAIT_OBJECT_0);
    EXPECT_FALSE(ReleaseMutex(first.get()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
}

TEST_F(SimulatedMutex, NamesFollowTheObjectNamespaceRules) {
    UniqueHandle local(CreateMutexW(nullptr, FALSE, WIDE("Local\\Name")));
    UniqueHandle other_case(CreateMutexW(nullptr, FALSE, WIDE("Local\\name")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    UniqueHandle global(CreateMutexW(nullptr, FALSE, WIDE("Global\\Name")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(CreateMutexW(nullptr, FALSE, WIDE("Local\\a\\b")), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    const WideString long_name = to_wide("Local\\" + std::string(MAX_PATH, 'x'));
    EXPECT_EQ(CreateMutexW(nullptr, FALSE, long_name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    UniqueHandle unnamed(CreateMutexW(nullptr, FALSE, nullptr));
    EXPECT_TRUE(unnamed.valid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    // Once every handle is closed, the name is free again.
    local.reset();
    local.reset(CreateMutexW(nullptr, FALSE, WIDE("Local\\Name")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    winsim::inject_fault("ReleaseMutex", 6);
    EXPECT_FALSE(ReleaseMutex(local.get()));
    EXPECT_EQ(GetLastError(), 6u);
}

}  // namespace
}  // namespace quarvel
