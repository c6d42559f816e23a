// Simulated restricted tokens, privileges, default DACLs, explicit ACL entries, desktops and
// starting a process under a given token on a given desktop.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <winsim/testing.h>

#include <span>
#include <string>
#include <vector>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "support/anonymous_pipe.h"
#include "support/host_process.h"
#include "support/leak_checked_test.h"
#include "support/started_program.h"

namespace quarvel {
namespace {

std::vector<BYTE> sid(const char* text) {
    PSID converted = nullptr;
    EXPECT_TRUE(ConvertStringSidToSidW(to_wide(text).c_str(), &converted)) << text;
    LocalPtr<void> owned(converted);
    const auto* bytes = static_cast<const BYTE*>(converted);
    return {bytes, bytes + GetLengthSid(converted)};
}

std::string sid_string(PSID value) {
    LPWSTR text = nullptr;
    EXPECT_TRUE(ConvertSidToStringSidW(value, &text));
    LocalPtr<WCHAR> owned(text);
    return narrow_lossy(text);
}

std::vector<BYTE> token_information(HANDLE token, TOKEN_INFORMATION_CLASS information_class) {
    DWORD needed = 0;
    GetTokenInformation(token, information_class, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed + 8);
    EXPECT_TRUE(GetTokenInformation(token, information_class, buffer.data(), needed, &needed));
    return buffer;
}

struct Entry {
    BYTE type;
    DWORD mask;
    std::string sid;
    bool operator==(const Entry&) const = default;
};

std::vector<Entry> entries_of(const ACL* acl) {
    std::vector<Entry> entries;
    const auto* at = reinterpret_cast<const BYTE*>(acl) + sizeof(ACL);
    for (WORD k = 0; k < acl->AceCount; ++k) {
        const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(at);
        entries.push_back(
            {ace->Header.AceType, ace->Mask, sid_string(const_cast<DWORD*>(&ace->SidStart))});
        at += ace->Header.AceSize;
    }
    return entries;
}

EXPLICIT_ACCESS_W explicit_entry(std::vector<BYTE>& trustee, DWORD mask, ACCESS_MODE mode) {
    EXPLICIT_ACCESS_W entry{};
    entry.grfAccessPermissions = mask;
    entry.grfAccessMode = mode;
    entry.grfInheritance = NO_INHERITANCE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
    entry.Trustee.ptstrName = reinterpret_cast<LPWSTR>(trustee.data());
    return entry;
}

constexpr const char* kCapability = "S-1-5-21-1-2-3-4444";
constexpr const char* kGroup = "S-1-5-21-1-2-3-1005";

class SimulatedRestriction : public testing::LeakCheckedTest {};

TEST_F(SimulatedRestriction, RestrictedTokenKeepsOnlyChangeNotifyAndListsRestrictingSidsInOrder) {
    UniqueHandle process_token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, process_token.put()));
    auto capability = sid(kCapability);
    auto everyone = sid("S-1-1-0");
    SID_AND_ATTRIBUTES restricting[] = {{capability.data(), 0}, {everyone.data(), 0}};
    UniqueHandle restricted;
    ASSERT_TRUE(CreateRestrictedToken(process_token.get(),
                                      DISABLE_MAX_PRIVILEGE | LUA_TOKEN | WRITE_RESTRICTED, 0,
                                      nullptr, 0, nullptr, 2, restricting, restricted.put()));
    EXPECT_TRUE(IsTokenRestricted(restricted.get()));
    EXPECT_FALSE(IsTokenRestricted(process_token.get()));

    const auto sids = token_information(restricted.get(), TokenRestrictedSids);
    const auto* list_of_sids = reinterpret_cast<const TOKEN_GROUPS*>(sids.data());
    ASSERT_EQ(list_of_sids->GroupCount, 2u);
    // The list runs past the one entry the structure declares.
    const std::span groups(list_of_sids->Groups, list_of_sids->GroupCount);
    EXPECT_EQ(sid_string(groups[0].Sid), kCapability);
    EXPECT_EQ(sid_string(groups[1].Sid), "S-1-1-0");

    const auto privileges = token_information(restricted.get(), TokenPrivileges);
    const auto* list = reinterpret_cast<const TOKEN_PRIVILEGES*>(privileges.data());
    LUID change_notify{};
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, WIDE("sechangenotifyprivilege"), &change_notify));
    ASSERT_EQ(list->PrivilegeCount, 1u);
    EXPECT_EQ(list->Privileges[0].Luid.LowPart, change_notify.LowPart);

    // The source token still has its privileges.
    const auto original = token_information(process_token.get(), TokenPrivileges);
    EXPECT_GT(reinterpret_cast<const TOKEN_PRIVILEGES*>(original.data())->PrivilegeCount, 1u);
}

TEST_F(SimulatedRestriction, AdjustingAPrivilegeTheTokenLacksSucceedsWithNotAllAssigned) {
    UniqueHandle process_token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, process_token.put()));
    UniqueHandle restricted;
    ASSERT_TRUE(CreateRestrictedToken(process_token.get(), DISABLE_MAX_PRIVILEGE, 0, nullptr, 0,
                                      nullptr, 0, nullptr, restricted.put()));
    struct Case {
        const WCHAR* privilege;
        DWORD attributes;
        DWORD last_error;
    } cases[] = {
        {WIDE("SeChangeNotifyPrivilege"), 0, ERROR_SUCCESS},
        {WIDE("SeChangeNotifyPrivilege"), SE_PRIVILEGE_ENABLED, ERROR_SUCCESS},
        {WIDE("SeDebugPrivilege"), SE_PRIVILEGE_ENABLED, ERROR_NOT_ALL_ASSIGNED},
    };
    for (const auto& c : cases) {
        TOKEN_PRIVILEGES change{1, {{{}, c.attributes}}};
        ASSERT_TRUE(LookupPrivilegeValueW(nullptr, c.privilege, &change.Privileges[0].Luid));
        SetLastError(12345);
        EXPECT_TRUE(AdjustTokenPrivileges(restricted.get(), FALSE, &change, 0, nullptr, nullptr));
        EXPECT_EQ(GetLastError(), c.last_error);
    }
    const auto privileges = token_information(restricted.get(), TokenPrivileges);
    EXPECT_EQ(
        reinterpret_cast<const TOKEN_PRIVILEGES*>(privileges.data())->Privileges[0].Attributes &
            SE_PRIVILEGE_ENABLED,
        static_cast<DWORD>(SE_PRIVILEGE_ENABLED));
    LUID unknown{};
    EXPECT_FALSE(LookupPrivilegeValueW(nullptr, WIDE("SeNoSuchPrivilege"), &unknown));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE));
}

TEST_F(SimulatedRestriction, GrantsMergeIntoTheOldAclInWindowsOrder) {
    auto capability = sid(kCapability);
    auto group = sid(kGroup);
    auto everyone = sid("S-1-1-0");
    EXPLICIT_ACCESS_W first[] = {explicit_entry(group, 0x1, GRANT_ACCESS),
                                 explicit_entry(everyone, 0x2, DENY_ACCESS)};
    PACL old_acl = nullptr;
    ASSERT_EQ(SetEntriesInAclW(2, first, nullptr, &old_acl), static_cast<DWORD>(ERROR_SUCCESS));
    LocalPtr<ACL> old_owner(old_acl);
    EXPECT_EQ(entries_of(old_acl), (std::vector<Entry>{{1, 0x2, "S-1-1-0"}, {0, 0x1, kGroup}}));

    EXPLICIT_ACCESS_W second[] = {explicit_entry(capability, GENERIC_ALL, GRANT_ACCESS),
                                  explicit_entry(group, 0x4, GRANT_ACCESS)};
    PACL merged = nullptr;
    ASSERT_EQ(SetEntriesInAclW(2, second, old_acl, &merged), static_cast<DWORD>(ERROR_SUCCESS));
    LocalPtr<ACL> merged_owner(merged);
    EXPECT_EQ(
        entries_of(merged),
        (std::vector<Entry>{{1, 0x2, "S-1-1-0"}, {0, GENERIC_ALL, kCapability}, {0, 0x5, kGroup}}));

    EXPLICIT_ACCESS_W revoke[] = {explicit_entry(group, 0, REVOKE_ACCESS)};
    PACL revoked = nullptr;
    ASSERT_EQ(SetEntriesInAclW(1, revoke, merged, &revoked), static_cast<DWORD>(ERROR_SUCCESS));
    LocalPtr<ACL> revoked_owner(revoked);
    EXPECT_EQ(entries_of(revoked),
              (std::vector<Entry>{{1, 0x2, "S-1-1-0"}, {0, GENERIC_ALL, kCapability}}));

    EXPLICIT_ACCESS_W by_name = explicit_entry(group, 1, GRANT_ACCESS);
    by_name.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    PACL unused = nullptr;
    EXPECT_EQ(SetEntriesInAclW(1, &by_name, nullptr, &unused),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    winsim::inject_fault("SetEntriesInAclW", 1337);
    EXPECT_EQ(SetEntriesInAclW(1, first, nullptr, &unused), 1337u);
    EXPECT_EQ(unused, nullptr);
}

TEST_F(SimulatedRestriction, DefaultDaclSetOnATokenIsWhatTheTokenReports) {
    UniqueHandle process_token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, process_token.put()));
    UniqueHandle restricted;
    ASSERT_TRUE(CreateRestrictedToken(process_token.get(), 0, 0, nullptr, 0, nullptr, 0, nullptr,
                                      restricted.put()));
    auto capability = sid(kCapability);
    EXPLICIT_ACCESS_W grant[] = {explicit_entry(capability, GENERIC_ALL, GRANT_ACCESS)};
    PACL acl = nullptr;
    ASSERT_EQ(SetEntriesInAclW(1, grant, nullptr, &acl), static_cast<DWORD>(ERROR_SUCCESS));
    LocalPtr<ACL> owner(acl);
    TOKEN_DEFAULT_DACL dacl{acl};
    EXPECT_FALSE(SetTokenInformation(restricted.get(), TokenDefaultDacl, &dacl, 4));
    ASSERT_TRUE(SetTokenInformation(restricted.get(), TokenDefaultDacl, &dacl, sizeof dacl));
    const auto reported = token_information(restricted.get(), TokenDefaultDacl);
    EXPECT_EQ(entries_of(reinterpret_cast<const TOKEN_DEFAULT_DACL*>(reported.data())->DefaultDacl),
              (std::vector<Entry>{{0, GENERIC_ALL, kCapability}}));
}

TEST_F(SimulatedRestriction, InjectedFaultsAndQuirksOfTheTokenCalls) {
    UniqueHandle process_token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, process_token.put()));
    HANDLE created = INVALID_HANDLE_VALUE;
    winsim::inject_fault("CreateRestrictedToken", 0, 1, winsim::FaultKind::quirk);
    EXPECT_TRUE(CreateRestrictedToken(process_token.get(), 0, 0, nullptr, 0, nullptr, 0, nullptr,
                                      &created));
    EXPECT_EQ(created, nullptr);
    winsim::inject_fault("CreateRestrictedToken", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(CreateRestrictedToken(process_token.get(), 0, 0, nullptr, 0, nullptr, 0, nullptr,
                                       &created));
    winsim::inject_fault("IsTokenRestricted", 0, 1, winsim::FaultKind::quirk);
    EXPECT_FALSE(IsTokenRestricted(process_token.get()));
    TOKEN_PRIVILEGES change{1, {{{}, SE_PRIVILEGE_ENABLED}}};
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, WIDE("SeChangeNotifyPrivilege"),
                                      &change.Privileges[0].Luid));
    winsim::inject_fault("AdjustTokenPrivileges", 0, 1, winsim::FaultKind::quirk);
    EXPECT_TRUE(AdjustTokenPrivileges(process_token.get(), FALSE, &change, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED));
    for (const char* call :
         {"LookupPrivilegeValueW", "AdjustTokenPrivileges", "SetTokenInformation"})
        winsim::inject_fault(call, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(LookupPrivilegeValueW(nullptr, WIDE("SeChangeNotifyPrivilege"),
                                       &change.Privileges[0].Luid));
    EXPECT_FALSE(AdjustTokenPrivileges(process_token.get(), FALSE, &change, 0, nullptr, nullptr));
    TOKEN_DEFAULT_DACL none{nullptr};
    EXPECT_FALSE(SetTokenInformation(process_token.get(), TokenDefaultDacl, &none, sizeof none));
    EXPECT_EQ(winsim::pending_fault_count(), 0u);
}

TEST_F(SimulatedRestriction, DesktopIsRecordedWithItsDaclUntilClosed) {
    const HWINSTA station = GetProcessWindowStation();
    ASSERT_NE(station, nullptr);
    DWORD needed = 0;
    EXPECT_FALSE(GetUserObjectInformationW(station, UOI_NAME, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_EQ(needed, 16u);
    WCHAR name[8] = {};
    ASSERT_TRUE(GetUserObjectInformationW(station, UOI_NAME, name, sizeof name, &needed));
    EXPECT_EQ(WideString(name), WIDE("WinSta0"));

    auto group = sid(kGroup);
    EXPLICIT_ACCESS_W grant[] = {explicit_entry(group, 0x000F01FF, GRANT_ACCESS)};
    PACL acl = nullptr;
    ASSERT_EQ(SetEntriesInAclW(1, grant, nullptr, &acl), static_cast<DWORD>(ERROR_SUCCESS));
    LocalPtr<ACL> owner(acl);
    SECURITY_DESCRIPTOR descriptor{};
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    const HDESK desktop =
        CreateDesktopW(WIDE("Private-1"), nullptr, nullptr, 0, 0x000F01FF, &attributes);
    ASSERT_NE(desktop, nullptr);
    const auto recorded = nlohmann::json::parse(winsim::desktops_json());
    ASSERT_TRUE(recorded.contains("WinSta0\\Private-1"));
    const auto& dacl = recorded["WinSta0\\Private-1"]["dacl"];
    ASSERT_EQ(dacl.size(), 1u);
    EXPECT_EQ(dacl[0]["mask"].get<DWORD>(), 0x000F01FFu);
    EXPECT_EQ(dacl[0]["sid"].get<std::string>(), kGroup);
    ASSERT_TRUE(CloseDesktop(desktop));
    EXPECT_FALSE(nlohmann::json::parse(winsim::desktops_json()).contains("WinSta0\\Private-1"));
    EXPECT_EQ(CreateDesktopW(WIDE("a\\b"), nullptr, nullptr, 0, 0, nullptr), nullptr);
}

TEST_F(SimulatedRestriction, ChildStartedAsUserRunsWithThatTokenOnThatDesktop) {
    UniqueHandle process_token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, process_token.put()));
    auto capability = sid(kCapability);
    SID_AND_ATTRIBUTES restricting[] = {{capability.data(), 0}};
    UniqueHandle restricted;
    ASSERT_TRUE(CreateRestrictedToken(process_token.get(), WRITE_RESTRICTED, 0, nullptr, 0, nullptr,
                                      1, restricting, restricted.put()));
    auto [read_end, write_end] = testing::anonymous_pipe(0, true);
    ASSERT_TRUE(read_end);
    SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);
    WideString desktop = WIDE("WinSta0\\Private-2");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop.data();
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end.get();
    WideString line = WIDE("/bin/sh -c \"echo $WINSIM_DESKTOP; echo $WINSIM_TOKEN\"");
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessAsUserW(restricted.get(), nullptr, line.data(), nullptr, nullptr, TRUE,
                                     CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, nullptr,
                                     nullptr, &startup, &info));
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    write_end.reset();
    ResumeThread(thread.get());
    const std::string output = testing::read_all(read_end.get());
    const auto newline = output.find('\n');
    ASSERT_NE(newline, std::string::npos);
    EXPECT_EQ(output.substr(0, newline), "WinSta0\\Private-2");
    const auto token = nlohmann::json::parse(output.substr(newline + 1));
    ASSERT_EQ(token["restricting_sids"].size(), 1u);
    EXPECT_EQ(token["restricting_sids"][0]["sid"].get<std::string>(), kCapability);
    EXPECT_TRUE(token["write_restricted"].get<bool>());
    EXPECT_EQ(WaitForSingleObject(process.get(), INFINITE), WAIT_OBJECT_0);

    HANDLE impersonation = nullptr;
    ASSERT_TRUE(DuplicateToken(process_token.get(), SecurityImpersonation, &impersonation));
    UniqueHandle impersonation_owner(impersonation);
    EXPECT_FALSE(CreateProcessAsUserW(impersonation, nullptr, line.data(), nullptr, nullptr, FALSE,
                                      0, nullptr, nullptr, &startup, &info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_TOKEN_TYPE));
}

}  // namespace
}  // namespace quarvel
