// The command's restricted identity on the simulated host: what the token holds, and every
// failure a platform call can cause, with nothing left open.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <winsim/testing.h>

#include <span>
#include <string>
#include <vector>

#include "platform/wide_text.h"
#include "support/fault_row.h"
#include "support/host_process.h"
#include "support/leak_checked_test.h"
#include "windows/process/restricted_identity.h"
#include "windows/security/sid_conversion.h"
#include "windows/security/token_information.h"

namespace quarvel {
namespace {

constexpr const char* kCapability = "S-1-5-21-1000-2000-3000-4000";

std::string text_of(PSID sid) {
    return sid_to_string(sid).value_or("?");
}

struct Grant {
    BYTE type;
    DWORD mask;
    std::string sid;
    bool operator==(const Grant&) const = default;
};

std::vector<Grant> grants_of(const ACL* acl) {
    std::vector<Grant> grants;
    if (acl == nullptr)
        return grants;
    const auto* at = reinterpret_cast<const BYTE*>(acl) + sizeof(ACL);
    for (WORD k = 0; k < acl->AceCount; ++k) {
        const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(at);
        grants.push_back(
            {ace->Header.AceType, ace->Mask, text_of(const_cast<DWORD*>(&ace->SidStart))});
        at += ace->Header.AceSize;
    }
    return grants;
}

TokenInformation read(HANDLE token, TOKEN_INFORMATION_CLASS information_class) {
    auto information = read_token_information(token, information_class, "test", "token");
    EXPECT_TRUE(information) << information.error().message;
    return information ? std::move(*information) : TokenInformation{};
}

class RestrictedIdentity : public testing::LeakCheckedTest {};

TEST_F(RestrictedIdentity, TokenIsWriteRestrictedToCapabilityLogonAndEveryoneWithOnlyChangeNotify) {
    auto identity = create_restricted_identity(kCapability);
    ASSERT_TRUE(identity) << identity.error().message;
    const std::string logon = text_of(identity->logon_sid.get());
    EXPECT_EQ(logon.rfind("S-1-5-5-", 0), 0u) << logon;
    const HANDLE token = identity->token.get();
    EXPECT_TRUE(IsTokenRestricted(token));

    const auto restricting = read(token, TokenRestrictedSids);
    const auto* sids = restricting.as<TOKEN_GROUPS>();
    ASSERT_EQ(sids->GroupCount, 3u);
    // The list runs past the one entry the structure declares.
    const std::span groups(sids->Groups, sids->GroupCount);
    EXPECT_EQ(text_of(groups[0].Sid), kCapability);
    EXPECT_EQ(text_of(groups[1].Sid), logon);
    EXPECT_EQ(text_of(groups[2].Sid), "S-1-1-0");

    const auto privileges = read(token, TokenPrivileges);
    const auto* list = privileges.as<TOKEN_PRIVILEGES>();
    LUID change_notify{};
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, WIDE("SeChangeNotifyPrivilege"), &change_notify));
    ASSERT_EQ(list->PrivilegeCount, 1u);
    EXPECT_EQ(list->Privileges[0].Luid.LowPart, change_notify.LowPart);
    EXPECT_NE(list->Privileges[0].Attributes & SE_PRIVILEGE_ENABLED, 0u);

    // Default access goes to this run and the system only: Everyone and the account's user SID
    // are every other run.
    const auto dacl = read(token, TokenDefaultDacl);
    const auto expected = std::vector<Grant>{
        {0, GENERIC_ALL, kCapability}, {0, GENERIC_ALL, logon}, {0, GENERIC_ALL, "S-1-5-18"}};
    EXPECT_EQ(grants_of(dacl.as<TOKEN_DEFAULT_DACL>()->DefaultDacl), expected);
}

TEST_F(RestrictedIdentity, CapabilityThatIsNoSidFailsBeforeAnyTokenIsOpened) {
    winsim::inject_fault("OpenProcessToken", ERROR_ACCESS_DENIED);
    auto identity = create_restricted_identity("not-a-sid");
    ASSERT_FALSE(identity);
    EXPECT_EQ(identity.error().code, "invalid_sid");
    EXPECT_EQ(winsim::pending_fault_count(), 1u);
}

TEST_F(RestrictedIdentity, EveryPlatformFailureGivesItsRowAndReleasesEverything) {
    using winsim::FaultKind;
    const testing::FaultRow rows[] = {
        {"ConvertStringSidToSidW", 2, 1337, FaultKind::fail, "invalid_sid", ""},
        {"OpenProcessToken", 1, 5, FaultKind::fail, "token_open_failed",
         "Could not open protected account identity. Windows error 5."},
        {"OpenProcessToken", 1, 6, FaultKind::quirk, "token_open_failed",
         "Could not open account identity. Windows error "},
        {"GetTokenInformation", 1, 8, FaultKind::fail, "token_logon_sid_failed",
         "Could not size protected logon identity. Windows error 8."},
        {"GetTokenInformation", 2, 998, FaultKind::fail, "token_logon_sid_failed",
         "Could not read protected logon identity. Windows error 998."},
        {"GetTokenInformation", 2, 8, FaultKind::quirk, "token_logon_sid_failed",
         "Protected logon identity is invalid."},
        {"CreateRestrictedToken", 1, 5, FaultKind::fail, "token_restriction_failed",
         "Could not create restricted command identity. Windows error 5."},
        {"CreateRestrictedToken", 1, 0, FaultKind::quirk, "token_restriction_failed",
         "Could not create restricted identity. Windows error "},
        {"IsTokenRestricted", 1, 0, FaultKind::quirk, "token_restriction_failed",
         "Windows did not mark the command identity as restricted."},
        {"LookupPrivilegeValueW", 1, 1313, FaultKind::fail, "token_privilege_failed",
         "Could not resolve protected command privileges. Windows error 1313."},
        {"AdjustTokenPrivileges", 1, 5, FaultKind::fail, "token_privilege_failed",
         "Could not apply protected command privileges. Windows error 5."},
        {"AdjustTokenPrivileges", 1, 0, FaultKind::quirk, "token_privilege_failed",
         "Required protected command privileges are unavailable."},
        {"ConvertStringSidToSidW", 3, 1337, FaultKind::fail, "invalid_sid", ""},
        {"SetEntriesInAclW", 1, 87, FaultKind::fail, "token_default_access_failed",
         "Could not prepare protected object access: 87."},
        {"SetTokenInformation", 1, 5, FaultKind::fail, "token_default_access_failed",
         "Could not apply protected object access. Windows error 5."},
    };
    for (const auto& row : rows) {
        testing::arm(row);
        auto identity = create_restricted_identity(kCapability);
        ASSERT_FALSE(identity) << row.function << " " << row.nth;
        testing::expect_row_failure(identity.error(), row);
        EXPECT_EQ(winsim::pending_fault_count(), 0u) << row.function;
        EXPECT_EQ(winsim::open_handle_count(), handles_) << row.function;
        EXPECT_EQ(winsim::outstanding_local_allocations(), allocations_) << row.function;
    }
}

TEST_F(RestrictedIdentity, TokenWithoutALogonSessionGroupIsRefused) {
    auto token = nlohmann::json::parse(winsim::administrator_token_json(true));
    const auto original = token.dump();
    auto& groups = token["groups"];
    for (auto it = groups.begin(); it != groups.end();) {
        if ((it->at("attributes").get<std::uint32_t>() & 0xC0000000u) == 0xC0000000u)
            it = groups.erase(it);
        else
            ++it;
    }
    winsim::set_process_token_json(token.dump());
    auto identity = create_restricted_identity(kCapability);
    winsim::set_process_token_json(original);
    ASSERT_FALSE(identity);
    EXPECT_EQ(identity.error(), fixed_failure("token_logon_sid_failed",
                                              "Protected logon identity is unavailable.", 70));
}

}  // namespace
}  // namespace quarvel
