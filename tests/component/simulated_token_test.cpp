// The simulated host's process token and the token calls: what the program reads from a
// token, Windows' size protocol, and CheckTokenMembership's rules.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "support/host_process.h"

namespace quarvel {
namespace {

// Token information holds pointers, so the buffer is 8-byte aligned like Windows' own.
struct TokenInformation {
    std::vector<ULONGLONG> storage;
    DWORD length = 0;
    template <class T>
    const T* as() const {
        return reinterpret_cast<const T*>(storage.data());
    }
};

TokenInformation query(HANDLE token, TOKEN_INFORMATION_CLASS information_class) {
    TokenInformation information;
    DWORD needed = 0;
    EXPECT_FALSE(GetTokenInformation(token, information_class, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    information.storage.resize((needed + 7) / 8);
    EXPECT_TRUE(GetTokenInformation(token, information_class, information.storage.data(), needed,
                                    &information.length));
    EXPECT_EQ(information.length, needed);
    return information;
}

std::string text_of(PSID sid) {
    LocalPtr<WCHAR> text;
    if (!ConvertSidToStringSidW(sid, text.put()))
        return "?";
    return narrow_lossy(text.get());
}

struct Group {
    std::string sid;
    DWORD attributes;
    bool operator==(const Group&) const = default;
};

std::vector<Group> groups_of(const TokenInformation& information) {
    std::vector<Group> groups;
    const auto* list = information.as<TOKEN_GROUPS>();
    for (DWORD k = 0; k < list->GroupCount; ++k)
        groups.push_back({text_of(list->Groups[k].Sid), list->Groups[k].Attributes});
    return groups;
}

DWORD attributes_of(const std::vector<Group>& groups, const std::string& sid) {
    for (const auto& group : groups)
        if (group.sid == sid)
            return group.attributes;
    return 0xFFFFFFFF;
}

class SimulatedToken : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::use_fresh_machine();
        machine_sid_ =
            nlohmann::json::parse(winsim::accounts_json())["machine_sid"].get<std::string>();
    }
    void TearDown() override { winsim::clear_faults(); }

    UniqueHandle open_process_token() {
        HANDLE token = nullptr;
        EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &token));
        return UniqueHandle(token);
    }

    std::string machine_sid_;
};

TEST_F(SimulatedToken, ElevatedAdministratorHasTheGroupsAndPrivilegesOfWindows) {
    winsim::set_process_token_json(winsim::administrator_token_json(true));
    const UniqueHandle token = open_process_token();

    const auto user = query(token.get(), TokenUser);
    EXPECT_EQ(user.length, sizeof(TOKEN_USER) + 28);
    EXPECT_EQ(text_of(user.as<TOKEN_USER>()->User.Sid), machine_sid_ + "-500");

    const auto groups = groups_of(query(token.get(), TokenGroups));
    EXPECT_EQ(attributes_of(groups, "S-1-1-0"), 7u);
    EXPECT_EQ(attributes_of(groups, "S-1-5-11"), 7u);
    EXPECT_EQ(attributes_of(groups, "S-1-5-32-544"), 0xFu);
    EXPECT_EQ(attributes_of(groups, "S-1-5-32-545"), 7u);
    int logon_sids = 0;
    for (const auto& group : groups) {
        if (group.sid.starts_with("S-1-5-5-0-")) {
            ++logon_sids;
            EXPECT_EQ(group.attributes, 0xC0000007u);
        }
    }
    EXPECT_EQ(logon_sids, 1);

    EXPECT_EQ(query(token.get(), TokenElevation).as<TOKEN_ELEVATION>()->TokenIsElevated, 1u);
    EXPECT_EQ(query(token.get(), TokenRestrictedSids).as<TOKEN_GROUPS>()->GroupCount, 0u);
    EXPECT_EQ(*query(token.get(), TokenType).as<DWORD>(), static_cast<DWORD>(TokenPrimary));

    const auto privileges = query(token.get(), TokenPrivileges);
    const auto* list = privileges.as<TOKEN_PRIVILEGES>();
    EXPECT_EQ(privileges.length,
              sizeof(DWORD) + list->PrivilegeCount * sizeof(LUID_AND_ATTRIBUTES));
    bool change_notify = false;
    for (DWORD k = 0; k < list->PrivilegeCount; ++k) {
        // SeChangeNotifyPrivilege has LUID 23 on every Windows system.
        if (list->Privileges[k].Luid.LowPart == 23) {
            change_notify = true;
            EXPECT_EQ(list->Privileges[k].Attributes, 3u);
        }
    }
    EXPECT_TRUE(change_notify);
    EXPECT_GT(list->PrivilegeCount, 5u);
}

TEST_F(SimulatedToken, FilteredAdministratorHasAdministratorsForDenyOnly) {
    winsim::set_process_token_json(winsim::administrator_token_json(false));
    const UniqueHandle token = open_process_token();
    const auto groups = groups_of(query(token.get(), TokenGroups));
    EXPECT_EQ(attributes_of(groups, "S-1-5-32-544"),
              static_cast<DWORD>(SE_GROUP_USE_FOR_DENY_ONLY));
    EXPECT_EQ(query(token.get(), TokenElevation).as<TOKEN_ELEVATION>()->TokenIsElevated, 0u);
    EXPECT_EQ(query(token.get(), TokenPrivileges).as<TOKEN_PRIVILEGES>()->PrivilegeCount, 5u);
}

TEST_F(SimulatedToken, DefaultDaclIsABinaryAclAfterThePointer) {
    winsim::set_process_token_json(winsim::administrator_token_json(true));
    const UniqueHandle token = open_process_token();
    const auto information = query(token.get(), TokenDefaultDacl);
    const ACL* acl = information.as<TOKEN_DEFAULT_DACL>()->DefaultDacl;
    ASSERT_NE(acl, nullptr);
    EXPECT_EQ(
        reinterpret_cast<const BYTE*>(acl),
        reinterpret_cast<const BYTE*>(information.storage.data()) + sizeof(TOKEN_DEFAULT_DACL));
    EXPECT_EQ(acl->AclRevision, ACL_REVISION);
    ASSERT_EQ(acl->AceCount, 3u);
    EXPECT_EQ(information.length, sizeof(TOKEN_DEFAULT_DACL) + acl->AclSize);
    std::vector<std::string> trustees;
    const auto* ace = reinterpret_cast<const BYTE*>(acl) + sizeof(ACL);
    for (int k = 0; k < acl->AceCount; ++k) {
        const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace);
        EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        trustees.push_back(text_of(const_cast<DWORD*>(&allowed->SidStart)));
        ace += allowed->Header.AceSize;
    }
    EXPECT_EQ(trustees[0], "S-1-5-32-544");
    EXPECT_EQ(trustees[1], "S-1-5-18");
    EXPECT_TRUE(trustees[2].starts_with("S-1-5-5-0-"));
}

TEST_F(SimulatedToken, TokenWithoutDefaultDaclReportsANullPointer) {
    const UniqueHandle token(winsim::create_token_handle(R"({"user": "S-1-5-18"})"));
    const auto information = query(token.get(), TokenDefaultDacl);
    EXPECT_EQ(information.length, sizeof(TOKEN_DEFAULT_DACL));
    EXPECT_EQ(information.as<TOKEN_DEFAULT_DACL>()->DefaultDacl, nullptr);
}

TEST_F(SimulatedToken, TokenStatesMustNameRealSidsAndPrivileges) {
    const auto handles = winsim::open_handle_count();
    EXPECT_THROW(winsim::create_token_handle(R"({"user": "nobody"})"), std::exception);
    EXPECT_THROW(winsim::create_token_handle(
                     R"({"user": "S-1-5-18", "groups": [{"sid": "S-1-x", "attributes": 7}]})"),
                 std::exception);
    EXPECT_THROW(winsim::create_token_handle(
                     R"({"user": "S-1-5-18", "privileges": [{"name": "SeMagicPrivilege"}]})"),
                 std::exception);
    EXPECT_EQ(winsim::open_handle_count(), handles);
}

TEST_F(SimulatedToken, FollowsTheSizeProtocolOfWindows) {
    const UniqueHandle token = open_process_token();
    DWORD needed = 0;
    ASSERT_FALSE(GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &needed));
    std::vector<ULONGLONG> buffer((needed + 7) / 8, 0xABABABABABABABABull);
    DWORD reported = 0;
    SetLastError(0);
    EXPECT_FALSE(
        GetTokenInformation(token.get(), TokenGroups, buffer.data(), needed - 1, &reported));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(reported, needed);
    EXPECT_EQ(buffer.front(), 0xABABABABABABABABull) << "a refused read wrote into the buffer";

    EXPECT_FALSE(
        GetTokenInformation(token.get(), TokenSessionId, buffer.data(), needed, &reported));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(
        GetTokenInformation(GetCurrentProcess(), TokenUser, buffer.data(), needed, &reported));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(SimulatedToken, InjectedQueryFaultReportsNoLength) {
    const UniqueHandle token = open_process_token();
    winsim::inject_fault("GetTokenInformation", 31);
    DWORD needed = 99;
    EXPECT_FALSE(GetTokenInformation(token.get(), TokenUser, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), 31u);
    EXPECT_EQ(needed, 0u);
}

TEST_F(SimulatedToken, EveryOpenOfTheProcessTokenSeesTheSameToken) {
    winsim::set_process_token_json(winsim::administrator_token_json(true));
    const UniqueHandle first = open_process_token();
    const UniqueHandle second = open_process_token();
    EXPECT_NE(first.get(), second.get());
    winsim::set_process_token_json(winsim::administrator_token_json(false));
    EXPECT_EQ(query(first.get(), TokenElevation).as<TOKEN_ELEVATION>()->TokenIsElevated, 0u);
}

TEST_F(SimulatedToken, OpenProcessTokenFailuresAndQuirk) {
    HANDLE token = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_FALSE(OpenProcessToken(reinterpret_cast<HANDLE>(0x4444), TOKEN_QUERY, &token));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(token, nullptr);

    const auto handles = winsim::open_handle_count();
    winsim::inject_fault("OpenProcessToken", 5);
    EXPECT_FALSE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    EXPECT_EQ(GetLastError(), 5u);
    winsim::inject_fault("OpenProcessToken", 6, 1, winsim::FaultKind::quirk);
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    EXPECT_EQ(token, nullptr);
    EXPECT_EQ(winsim::open_handle_count(), handles);
}

TEST_F(SimulatedToken, DuplicateIsASeparateImpersonationToken) {
    const UniqueHandle token = open_process_token();
    HANDLE raw = nullptr;
    ASSERT_TRUE(DuplicateToken(token.get(), SecurityImpersonation, &raw));
    const UniqueHandle duplicate(raw);
    EXPECT_EQ(*query(duplicate.get(), TokenType).as<DWORD>(),
              static_cast<DWORD>(TokenImpersonation));
    EXPECT_EQ(*query(token.get(), TokenType).as<DWORD>(), static_cast<DWORD>(TokenPrimary));
    EXPECT_FALSE(DuplicateToken(reinterpret_cast<HANDLE>(0x4444), SecurityImpersonation, &raw));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// A token with one group of each kind, as JSON for the test API.
std::string token_json(const char* extra = "") {
    return std::string(R"({"user": "S-1-5-21-9-9-9-1001", "primary": false,
        "impersonation_level": 2, "groups": [
        {"sid": "S-1-5-21-9-9-9-2001", "attributes": 7},
        {"sid": "S-1-5-21-9-9-9-2002", "attributes": 16},
        {"sid": "S-1-5-21-9-9-9-2003", "attributes": 0},
        {"sid": "S-1-5-5-0-77", "attributes": 3221225479}])") +
           extra + "}";
}

TEST_F(SimulatedToken, MembershipCountsOnlyEnabledGroupsAndRestrictingSids) {
    const struct {
        const char* token_extra;
        const char* sid;
        BOOL member;
    } cases[] = {
        {"", "S-1-5-21-9-9-9-1001", TRUE},   // the user
        {"", "S-1-5-21-9-9-9-2001", TRUE},   // enabled
        {"", "S-1-5-21-9-9-9-2002", FALSE},  // deny-only
        {"", "S-1-5-21-9-9-9-2003", FALSE},  // present, not enabled
        {"", "S-1-5-21-9-9-9-2004", FALSE},  // absent
        {"", "S-1-5-5-0-77", TRUE},          // logon SID
        // A restricted token: enabled and also restricting.
        {R"(, "restricting_sids": [{"sid": "S-1-5-21-9-9-9-2001"}])", "S-1-5-21-9-9-9-2001", TRUE},
        {R"(, "restricting_sids": [{"sid": "S-1-5-21-9-9-9-2001"}])", "S-1-5-5-0-77", FALSE},
        {R"(, "restricting_sids": [{"sid": "S-1-5-21-9-9-9-2002"}])", "S-1-5-21-9-9-9-2002", FALSE},
        // Write-restricted tokens restrict writes only, not membership.
        {R"(, "write_restricted": true, "restricting_sids": [{"sid": "S-1-1-0"}])", "S-1-5-5-0-77",
         TRUE},
    };
    for (const auto& c : cases) {
        const UniqueHandle token(winsim::create_token_handle(token_json(c.token_extra)));
        const auto sid = [&] {
            LocalPtr<void> binary;
            EXPECT_TRUE(ConvertStringSidToSidW(to_wide(c.sid).c_str(), binary.put()));
            return binary;
        }();
        BOOL member = 2;
        ASSERT_TRUE(CheckTokenMembership(token.get(), sid.get(), &member));
        EXPECT_EQ(member, c.member) << c.sid << c.token_extra;
    }
}

TEST_F(SimulatedToken, MembershipNeedsAnImpersonationTokenAtIdentificationLevel) {
    LocalPtr<void> everyone;
    ASSERT_TRUE(ConvertStringSidToSidW(WIDE("S-1-1-0"), everyone.put()));
    BOOL member = FALSE;
    const UniqueHandle primary = open_process_token();
    EXPECT_FALSE(CheckTokenMembership(primary.get(), everyone.get(), &member));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_IMPERSONATION_TOKEN));

    const UniqueHandle anonymous(winsim::create_token_handle(
        R"({"user": "S-1-5-7", "primary": false, "impersonation_level": 0})"));
    EXPECT_FALSE(CheckTokenMembership(anonymous.get(), everyone.get(), &member));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_IMPERSONATION_LEVEL));

    // No token at all: the caller's own.
    winsim::set_process_token_json(winsim::administrator_token_json(true));
    EXPECT_TRUE(CheckTokenMembership(nullptr, everyone.get(), &member));
    EXPECT_TRUE(member);
}

}  // namespace
}  // namespace quarvel
