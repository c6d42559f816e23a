#include <gtest/gtest.h>

#include "platform/unique_resource.h"
#include "platform/win32.h"
#include "windows/security/os_failure.h"

namespace quarvel {
namespace {

TEST(OsFailure, AppendsTheLastErrorAsUnsignedDecimal) {
    SetLastError(5);
    const Failure failure = os_failure("job_create_failed", "Could not create process job.");
    EXPECT_EQ(failure.code, "job_create_failed");
    EXPECT_EQ(failure.message, "Could not create process job. Windows error 5.");
    EXPECT_EQ(failure.exit_code, 70);

    SetLastError(0x80070005);
    EXPECT_EQ(os_failure("x", "Failed.").message, "Failed. Windows error 2147942405.");
}

UniqueHandle open_own_token() {
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    return UniqueHandle(token);
}

TEST(CheckedHandle, TreatsNullAndInvalidHandleValueAsFailure) {
    for (HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        SetLastError(6);
        const auto handle = checked_handle(bad, "token_open_failed", "Could not open identity.");
        ASSERT_FALSE(handle.has_value());
        EXPECT_EQ(handle.error().code, "token_open_failed");
        EXPECT_EQ(handle.error().message, "Could not open identity. Windows error 6.");
    }
}

TEST(CheckedHandle, TakesOwnershipOfAUsableHandle) {
    UniqueHandle token = open_own_token();
    const HANDLE raw = token.release();
    const auto owned = checked_handle(raw, "x", "y");
    ASSERT_TRUE(owned.has_value());
    EXPECT_EQ(owned->get(), raw);
}

TEST(UniqueHandle, ClosingKeepsTheThreadsLastError) {
    UniqueHandle token = open_own_token();
    ASSERT_TRUE(token.valid());
    SetLastError(1337);
    token.reset();
    EXPECT_EQ(GetLastError(), 1337u);
    EXPECT_FALSE(token.valid());
}

TEST(LocalPtr, ReleasingKeepsTheThreadsLastError) {
    LocalPtr<void> block(LocalAlloc(LPTR, 32));
    ASSERT_TRUE(block.valid());
    SetLastError(87);
    block.reset();
    EXPECT_EQ(GetLastError(), 87u);
}

}  // namespace
}  // namespace quarvel
