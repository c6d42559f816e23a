// Simulated desktops: opening one by name against its DACL with the caller's token (a
// write-restricted command's included), MAXIMUM_ALLOWED, the rights a handle keeps and what
// SwitchDesktop asks of them, the interactive session's Default desktop, and the connection a
// process makes to its own desktop.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <winsim/testing.h>

#include <string>
#include <vector>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "support/host_process.h"
#include "support/leak_checked_test.h"
#include "support/process_runner.h"

namespace quarvel {
namespace {

constexpr const char* kCapability = "S-1-5-21-7-7-7-7";
constexpr const char* kLogon = "S-1-5-5-0-4242";
// The rights the program gives its command on the private desktop.
constexpr DWORD kCommandAccess = 0x000200FF;

std::vector<BYTE> sid(const char* text) {
    PSID converted = nullptr;
    EXPECT_TRUE(ConvertStringSidToSidW(to_wide(text).c_str(), &converted)) << text;
    LocalPtr<void> owned(converted);
    const auto* bytes = static_cast<const BYTE*>(converted);
    return {bytes, bytes + GetLengthSid(converted)};
}

EXPLICIT_ACCESS_W grant(std::vector<BYTE>& trustee, DWORD mask) {
    EXPLICIT_ACCESS_W entry{};
    entry.grfAccessPermissions = mask;
    entry.grfAccessMode = GRANT_ACCESS;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.ptstrName = reinterpret_cast<LPWSTR>(trustee.data());
    return entry;
}

class SimulatedDesktop : public testing::LeakCheckedTest {
  protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        original_token_ = winsim::process_token_json();
        winsim::ensure_local_group("QuarvelSandboxUsers");
        account_sid_ = winsim::ensure_local_user("QuarvelSandboxOnline", "pw-1");
        winsim::add_local_group_member("QuarvelSandboxUsers", account_sid_);
    }
    void TearDown() override {
        winsim::set_process_token_json(original_token_);
        LeakCheckedTest::TearDown();
    }

    // The token of a command of one run: the sandbox account signed in (logon SID `logon`),
    // write-restricted to `capability`, `logon` and Everyone.
    std::string command_token(const char* capability, const char* logon) const {
        auto token = nlohmann::json::parse(winsim::account_token_json("QuarvelSandboxOnline"));
        for (auto& group : token["groups"])
            if ((group["attributes"].get<DWORD>() & 0xC0000000u) == 0xC0000000u)
                group["sid"] = logon;
        token["restricting_sids"] =
            nlohmann::json::array({{{"sid", capability}, {"attributes", 0}},
                                   {{"sid", logon}, {"attributes", 0}},
                                   {{"sid", "S-1-1-0"}, {"attributes", 0}}});
        token["write_restricted"] = true;
        return token.dump();
    }

    // A desktop made the way the program makes its command's: the sandbox group, the
    // capability and the logon SID, each with `mask`, created by the sandbox account.
    UniqueDesktop private_desktop(const char* name, DWORD mask) {
        const std::string group = winsim::ensure_local_group("QuarvelSandboxUsers");
        auto group_sid = sid(group.c_str());
        auto capability = sid(kCapability);
        auto logon = sid(kLogon);
        EXPLICIT_ACCESS_W entries[] = {grant(group_sid, mask), grant(capability, mask),
                                       grant(logon, mask)};
        PACL acl = nullptr;
        EXPECT_EQ(SetEntriesInAclW(3, entries, nullptr, &acl), static_cast<DWORD>(ERROR_SUCCESS));
        LocalPtr<ACL> owned(acl);
        SECURITY_DESCRIPTOR descriptor{};
        EXPECT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
        EXPECT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE));
        SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
        winsim::set_process_token_json(winsim::account_token_json("QuarvelSandboxOnline"));
        UniqueDesktop desktop(
            CreateDesktopW(to_wide(name).c_str(), nullptr, nullptr, 0, mask, &attributes));
        winsim::set_process_token_json(original_token_);
        EXPECT_TRUE(desktop);
        return desktop;
    }

    std::string original_token_;
    std::string account_sid_;
};

// Opens the desktop as the current token; 0 or the error. With `switch_after`, the opened
// handle is also asked to switch, and that call's error is returned instead.
DWORD open_as_current(const char* name, DWORD desired, bool switch_after = false) {
    UniqueDesktop desktop(OpenDesktopW(to_wide(name).c_str(), 0, FALSE, desired));
    if (!desktop)
        return GetLastError();
    if (switch_after && !SwitchDesktop(desktop.get()))
        return GetLastError();
    return 0;
}

TEST_F(SimulatedDesktop, CommandMayUseItsDesktopButNotSwitchToItNorRewriteItsList) {
    auto desktop = private_desktop("Command-1", kCommandAccess);
    struct Row {
        DWORD desired;
        bool switch_after;
        DWORD error;
    } rows[] = {
        {DESKTOP_CREATEWINDOW | DESKTOP_CREATEMENU | DESKTOP_WRITEOBJECTS, false, 0},
        {DESKTOP_READOBJECTS | DESKTOP_ENUMERATE | READ_CONTROL, false, 0},
        {GENERIC_READ | GENERIC_WRITE, false, 0},
        {DESKTOP_HOOKCONTROL | DESKTOP_JOURNALRECORD | DESKTOP_JOURNALPLAYBACK, false, 0},
        {DESKTOP_SWITCHDESKTOP, false, ERROR_ACCESS_DENIED},
        {GENERIC_EXECUTE, false, ERROR_ACCESS_DENIED},
        {GENERIC_ALL, false, ERROR_ACCESS_DENIED},
        // Its user owns the desktop, but ownership is not one of its restricting SIDs.
        {WRITE_DAC, false, ERROR_ACCESS_DENIED},
        {WRITE_OWNER, false, ERROR_ACCESS_DENIED},
        {MAXIMUM_ALLOWED, false, 0},
        {MAXIMUM_ALLOWED, true, ERROR_ACCESS_DENIED},
        {MAXIMUM_ALLOWED | DESKTOP_SWITCHDESKTOP, false, ERROR_ACCESS_DENIED},
    };
    winsim::set_process_token_json(command_token(kCapability, kLogon));
    for (const auto& row : rows)
        EXPECT_EQ(open_as_current("command-1", row.desired, row.switch_after), row.error)
            << std::hex << row.desired << " " << row.switch_after;
    EXPECT_EQ(winsim::input_desktop(), "");
}

TEST_F(SimulatedDesktop, AnotherRunsCommandMayReadTheDesktopButNotDrawOnIt) {
    auto desktop = private_desktop("Command-1", kCommandAccess);
    winsim::set_process_token_json(command_token("S-1-5-21-8-8-8-8", "S-1-5-5-0-5151"));
    EXPECT_EQ(open_as_current("Command-1", DESKTOP_READOBJECTS | DESKTOP_ENUMERATE), 0u);
    for (const DWORD write :
         {DESKTOP_CREATEWINDOW, DESKTOP_HOOKCONTROL, DESKTOP_JOURNALPLAYBACK, DESKTOP_WRITEOBJECTS})
        EXPECT_EQ(open_as_current("Command-1", write), static_cast<DWORD>(ERROR_ACCESS_DENIED))
            << std::hex << write;
}

TEST_F(SimulatedDesktop, EveryDesktopRightLetsTheCommandMakeItsDesktopTheInputOne) {
    auto desktop = private_desktop("Command-1", 0x000F01FF);
    winsim::set_process_token_json(command_token(kCapability, kLogon));
    EXPECT_EQ(open_as_current("Command-1", DESKTOP_SWITCHDESKTOP, true), 0u);
    EXPECT_EQ(winsim::input_desktop(), "WinSta0\\Command-1");
}

TEST_F(SimulatedDesktop, DefaultBelongsToTheInteractiveSessionAndSystemAlone) {
    EXPECT_EQ(open_as_current("default", GENERIC_ALL, true), 0u);
    EXPECT_EQ(winsim::input_desktop(), "WinSta0\\Default");
    winsim::set_process_token_json(winsim::account_token_json("QuarvelSandboxOnline"));
    for (const DWORD desired :
         {DWORD{DESKTOP_READOBJECTS}, DWORD{GENERIC_WRITE}, DWORD{DESKTOP_SWITCHDESKTOP}})
        EXPECT_EQ(open_as_current("Default", desired), static_cast<DWORD>(ERROR_ACCESS_DENIED))
            << std::hex << desired;
    UniqueDesktop none(OpenDesktopW(WIDE("Default"), 0, FALSE, MAXIMUM_ALLOWED));
    EXPECT_FALSE(none);
}

TEST_F(SimulatedDesktop, RefusedCallsGiveTheirErrors) {
    auto desktop = private_desktop("Command-1", kCommandAccess);
    EXPECT_EQ(open_as_current("Command-2", DESKTOP_READOBJECTS),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(OpenDesktopW(WIDE("Command-1"), 2, FALSE, DESKTOP_READOBJECTS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(SwitchDesktop(nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    winsim::inject_fault("OpenDesktopW", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(open_as_current("Default", MAXIMUM_ALLOWED),
              static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    winsim::inject_fault("SwitchDesktop", ERROR_ACCESS_DENIED);
    EXPECT_EQ(open_as_current("Default", MAXIMUM_ALLOWED, true),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(winsim::input_desktop(), "");
    winsim::inject_fault("GetThreadDesktop", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(GetThreadDesktop(GetCurrentThreadId()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(winsim::pending_fault_count(), 0u);
}

TEST_F(SimulatedDesktop, OutsideTheInteractiveWindowStationNothingCanBeSwitchedTo) {
    ::setenv("WINSIM_WINDOW_STATION", "Service-0x0-3e7$", 1);
    auto desktop = private_desktop("Service-1", 0x000F01FF);
    const DWORD error = open_as_current("Service-1", DESKTOP_SWITCHDESKTOP, true);
    desktop.reset();
    ::unsetenv("WINSIM_WINDOW_STATION");
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(winsim::input_desktop(), "");
}

TEST_F(SimulatedDesktop, ProcessConnectsToItsDesktopOnceAndCannotCloseThatHandle) {
    const HDESK connected = GetThreadDesktop(GetCurrentThreadId());
    ASSERT_NE(connected, nullptr);
    count_resources_from_now();
    EXPECT_EQ(GetThreadDesktop(GetCurrentThreadId()), connected);
    WCHAR name[16] = {};
    DWORD needed = 0;
    ASSERT_TRUE(GetUserObjectInformationW(connected, UOI_NAME, name, sizeof name, &needed));
    EXPECT_EQ(WideString(name), WIDE("Default"));
    EXPECT_FALSE(CloseDesktop(connected));
    EXPECT_EQ(GetLastError(), 170u);  // ERROR_BUSY
    EXPECT_EQ(GetThreadDesktop(GetCurrentThreadId()), connected);
    EXPECT_EQ(GetThreadDesktop(1), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(SimulatedDesktop, ConnectionFailsForAMissingDesktopOrOneThatGrantsNothing) {
    struct Row {
        const char* desktop;
        bool as_sandbox_account;
        const char* line;
    } rows[] = {
        {"WinSta0\\Missing", false, "connected: 2"},
        {"", true, "connected: 5"},
        {"", false, "connected Default"},
    };
    for (const auto& row : rows) {
        testing::ProcessOptions options;
        options.environment["WINSIM_DESKTOP"] = *row.desktop ? row.desktop : "\x01unset";
        if (row.as_sandbox_account)
            options.environment[winsim::kTokenVariable] =
                winsim::account_token_json("QuarvelSandboxOnline");
        const auto outcome =
            testing::run_process({testing::test_program("sandboxed_command"), "desktop"}, options);
        EXPECT_EQ(outcome.exit_code, 0) << row.line;
        EXPECT_EQ(outcome.standard_output.substr(0, outcome.standard_output.find('\n')), row.line);
    }
}

}  // namespace
}  // namespace quarvel
