// A group that a restricted token keeps for denial only does not make its holder a member,
// as Wine's token implementation decides it.

#include <gtest/gtest.h>

#include "platform/unique_resource.h"
#include "platform/win32.h"
#include "windows/security/sid_conversion.h"
#include "windows/security/token_membership.h"

namespace quarvel {
namespace {

TEST(TokenIsMemberUnderWine, GroupDisabledForDenyOnlyIsNotAMember) {
    HANDLE raw = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &raw));
    const UniqueHandle token(raw);
    auto everyone = sid_from_string("S-1-1-0");
    ASSERT_TRUE(everyone.has_value());
    ASSERT_EQ(token_is_member(token.get(), everyone->get(), "x", "y"), true);

    SID_AND_ATTRIBUTES disable = {everyone->get(), 0};
    HANDLE restricted_raw = nullptr;
    ASSERT_TRUE(CreateRestrictedToken(token.get(), 0, 1, &disable, 0, nullptr, 0, nullptr,
                                      &restricted_raw));
    const UniqueHandle restricted(restricted_raw);
    EXPECT_EQ(token_is_member(restricted.get(), everyone->get(), "x", "y"), false);
}

}  // namespace
}  // namespace quarvel
