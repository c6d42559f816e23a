// Membership tests on this process's own token, which every lane gives to a process started
// from a shell: Everyone is always an enabled group of it.

#include <gtest/gtest.h>

#include "platform/unique_resource.h"
#include "platform/win32.h"
#include "windows/security/sid_conversion.h"
#include "windows/security/token_membership.h"

namespace quarvel {
namespace {

UniqueHandle own_token() {
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &token));
    return UniqueHandle(token);
}

Result<bool> is_member(HANDLE token, const char* sid_text) {
    const auto sid = sid_from_string(sid_text);
    EXPECT_TRUE(sid.has_value()) << sid_text;
    return token_is_member(token, sid->get(), "membership_failed", "Could not test membership.");
}

TEST(TokenIsMember, EveryoneIsAnEnabledGroupOfTheProcessToken) {
    const UniqueHandle token = own_token();
    EXPECT_EQ(is_member(token.get(), "S-1-1-0"), true);
}

TEST(TokenIsMember, AnUnrelatedGroupIsNotAMember) {
    const UniqueHandle token = own_token();
    EXPECT_EQ(is_member(token.get(), "S-1-5-21-1-2-3-4242"), false);
}

TEST(TokenIsMember, TheCallersTokenStaysOpen) {
    const UniqueHandle token = own_token();
    ASSERT_EQ(is_member(token.get(), "S-1-1-0"), true);
    // Usable again: token_is_member closed only its own duplicate.
    EXPECT_EQ(is_member(token.get(), "S-1-1-0"), true);
}

TEST(TokenIsMember, ATokenHandleThatIsNotATokenGivesTheCallersFailure) {
    SetLastError(0);
    const auto sid = sid_from_string("S-1-1-0");
    ASSERT_TRUE(sid.has_value());
    const auto member =
        token_is_member(nullptr, sid->get(), "membership_failed", "Could not test membership.");
    ASSERT_FALSE(member.has_value());
    EXPECT_EQ(member.error().code, "membership_failed");
    EXPECT_EQ(member.error().message, "Could not test membership. Windows error 6.");
}

}  // namespace
}  // namespace quarvel
