// Path access rules and the access lock against Wine: grants, revokes and a protected list
// written with the program's calls and read back with GetNamedSecurityInfoW, the lock taken by
// two processes in turn, and a holder that ends or is killed without releasing it.
//
// Wine 8 keeps no access list for a file: it turns a written list into the Unix permission
// bits (the owner's entry into the owner's bits, Everyone's into the others') and reads back a
// list made from them (SYSTEM, the owner, Everyone), so only what those bits can hold comes
// back: entries for other SIDs, inheritance flags other than OI|CI, the protected flag and
// the removal of Everyone's entry (the bits are kept) do not. The tests check what does.

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/wide_text.h"
#include "support/file_semantics.h"
#include "support/path_security.h"
#include "support/started_program.h"
#include "windows/security/access_lock.h"
#include "windows/security/path_access.h"
#include "windows/security/pinned_path.h"
#include "windows/security/sid_conversion.h"

namespace quarvel {
namespace {

using testing::entries_for;
using testing::read_path_security;

constexpr const char* kEveryone = "S-1-1-0";
const std::string kHolder = testing::wine_test_program("access_lock_holder");

Result<void> change(const WideString& path, const char* sid_text, DWORD mask, ACCESS_MODE mode) {
    const auto sid = sid_from_string(sid_text);
    EXPECT_TRUE(sid);
    return set_path_access(path, sid->get(), mask, mode);
}

// Everyone's rights as Wine reads them back; 0 without an entry.
DWORD everyones_rights(const WideString& path) {
    const auto entries = entries_for(read_path_security(path).entries, kEveryone);
    return entries.empty() ? 0 : entries.front().mask;
}

TEST(PathAccessUnderWine, GrantAndRevokeRunAgainstWinesFileSecurity) {
    testing::ScratchDirectory scratch;
    const WideString work = scratch.name("work");
    ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
    {
        // Held as a grant holds it: Wine's own sharing rules keep it from being moved away.
        const auto pinned = pin_path(work, {"inspect", "link"});
        ASSERT_TRUE(pinned) << pinned.error().message;
        EXPECT_EQ(pinned->final_path(), WIDE("\\\\?\\") + work);
        EXPECT_EQ(testing::error_of(MoveFileExW(work.c_str(), scratch.name("moved").c_str(), 0)),
                  static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_EQ(testing::error_of(RemoveDirectoryW(work.c_str())),
                  static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    const auto before = read_path_security(work);
    ASSERT_EQ(before.error, 0u);
    EXPECT_EQ(everyones_rights(work) & FILE_WRITE_DATA, 0u);

    ASSERT_TRUE(change(work, kEveryone, kModifyAccess, GRANT_ACCESS));
    EXPECT_EQ(everyones_rights(work) & kModifyAccess, kModifyAccess);
    EXPECT_EQ(read_path_security(work).owner, before.owner);
    ASSERT_TRUE(change(work, kEveryone, 0, REVOKE_ACCESS));
    EXPECT_EQ(read_path_security(work).owner, before.owner);

    const auto missing = change(scratch.name("missing"), kEveryone, kModifyAccess, GRANT_ACCESS);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, "io_error");
}

TEST(PathAccessUnderWine, AProtectedListReplacesTheOneBefore) {
    testing::ScratchDirectory scratch;
    const WideString runtime = scratch.name("runtime");
    ASSERT_TRUE(CreateDirectoryW(runtime.c_str(), nullptr));
    ASSERT_TRUE(change(runtime, kEveryone, kModifyAccess, GRANT_ACCESS));
    auto owner = *sid_from_string(read_path_security(runtime).owner);
    auto everyone = *sid_from_string(kEveryone);
    EXPLICIT_ACCESS_W entries[] = {
        path_access_entry(owner.get(), kFullAccess, GRANT_ACCESS),
        path_access_entry(everyone.get(), kReadAndExecuteAccess, GRANT_ACCESS),
    };
    ASSERT_TRUE(protect_directory(runtime, entries, "runtime_acl_failed"));
    EXPECT_EQ(everyones_rights(runtime), kReadAndExecuteAccess);
}

TEST(AccessLockUnderWine, TwoProcessesTakeTheLockInTurn) {
    testing::ScratchDirectory scratch;
    const WideString shared = scratch.name("shared");
    ASSERT_TRUE(CreateDirectoryW(shared.c_str(), nullptr));
    auto lock = acquire_access_lock();
    ASSERT_TRUE(lock);
    auto granter =
        testing::start_program(kHolder, "grant " + narrow_lossy(shared) + " " + kEveryone);
    ASSERT_TRUE(granter.process.valid());
    EXPECT_EQ(WaitForSingleObject(granter.process.get(), 500), static_cast<DWORD>(WAIT_TIMEOUT));
    lock->release();
    EXPECT_EQ(testing::exit_code_within(granter.process.get(), 30000), 0u);
    EXPECT_EQ(everyones_rights(shared) & kModifyAccess, kModifyAccess);
}

TEST(AccessLockUnderWine, AHolderThatEndsOrIsKilledWithoutReleasingLetsTheNextOneIn) {
    UniqueHandle kept(CreateMutexW(nullptr, FALSE, WIDE("Local\\QuarvelSandboxAcl")));
    ASSERT_TRUE(kept.valid());
    auto ending = testing::start_program(kHolder, "exit-holding");
    ASSERT_EQ(testing::exit_code_within(ending.process.get(), 30000), 0u);
    EXPECT_EQ(WaitForSingleObject(kept.get(), 0), static_cast<DWORD>(WAIT_ABANDONED));
    ASSERT_TRUE(ReleaseMutex(kept.get()));

    testing::ScratchDirectory scratch;
    const WideString marker = scratch.name("holding");
    auto holder = testing::start_program(kHolder, "hold " + narrow_lossy(marker));
    ASSERT_TRUE(testing::appears_within(marker, 20000));
    bool acquired = false;
    std::thread waiter([&] {
        auto lock = acquire_access_lock();
        acquired = lock.has_value();
    });
    Sleep(200);
    ASSERT_TRUE(TerminateProcess(holder.process.get(), 1));
    waiter.join();
    EXPECT_TRUE(acquired);
}

}  // namespace
}  // namespace quarvel
