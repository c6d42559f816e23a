// The private desktop on the simulated host: its name, path and three-entry DACL, the window
// station name checks, and every failure a platform call can cause.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <winsim/testing.h>

#include <cstdlib>
#include <string>

#include "support/host_process.h"
#include "support/leak_checked_test.h"
#include "windows/process/private_desktop.h"
#include "windows/security/sid_conversion.h"

namespace quarvel {
namespace {

constexpr const char* kGroup = "S-1-5-21-1000-2000-3000-1010";
constexpr const char* kCapability = "S-1-5-21-1000-2000-3000-4000";
constexpr const char* kLogon = "S-1-5-5-0-77";
constexpr const char* kSuffix = "0123456789abcdef0123456789abcdef";

class PrivateDesktopTest : public testing::LeakCheckedTest {
  protected:
    void SetUp() override {
        ::unsetenv("WINSIM_WINDOW_STATION");
        LeakCheckedTest::SetUp();
    }
    void TearDown() override {
        ::unsetenv("WINSIM_WINDOW_STATION");
        LeakCheckedTest::TearDown();
        EXPECT_EQ(nlohmann::json::parse(winsim::desktops_json()).size(), 0u);
    }

    Result<PrivateDesktop> create(const char* group = kGroup) {
        auto logon = sid_from_string(kLogon);
        EXPECT_TRUE(logon);
        return create_private_desktop(kSuffix, group, kCapability, logon->get());
    }
};

TEST_F(PrivateDesktopTest, DesktopLivesInTheWindowStationWithExactlyThreeGrants) {
    auto desktop = create();
    ASSERT_TRUE(desktop) << desktop.error().message;
    const std::string name = std::string("QuarvelProtectedDesktop-") + kSuffix;
    EXPECT_EQ(name.size(), 56u);
    EXPECT_EQ(desktop->path, to_wide("WinSta0\\" + name));
    EXPECT_EQ(desktop->path.c_str()[desktop->path.size()], WCHAR{0});

    const auto recorded = nlohmann::json::parse(winsim::desktops_json());
    ASSERT_TRUE(recorded.contains("WinSta0\\" + name));
    const auto& dacl = recorded["WinSta0\\" + name]["dacl"];
    ASSERT_EQ(dacl.size(), 3u);
    const char* order[] = {kGroup, kCapability, kLogon};
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(dacl[k]["type"].get<int>(), 0);
        EXPECT_EQ(dacl[k]["flags"].get<int>(), 0);
        EXPECT_EQ(dacl[k]["mask"].get<DWORD>(), 0x000200FFu);
        EXPECT_EQ(dacl[k]["sid"].get<std::string>(), order[k]);
    }
    desktop->handle.reset();
}

TEST_F(PrivateDesktopTest, WindowStationNameMustBeUsable) {
    struct Row {
        const char* station;  // WTF-8, as the simulated host reads it
        const char* message;
    } rows[] = {
        {"", "Current command window station name is invalid."},
        {"Win\\Sta0", "Current command window station name is invalid."},
        {"Win\xED\xA0\x80Sta", "invalid utf-16: lone surrogate found"},
    };
    for (const auto& row : rows) {
        ::setenv("WINSIM_WINDOW_STATION", row.station, 1);
        auto desktop = create();
        ASSERT_FALSE(desktop) << row.station;
        EXPECT_EQ(desktop.error(), fixed_failure("window_station_name_failed", row.message, 70));
    }
    ::setenv("WINSIM_WINDOW_STATION", "Service-0x0-3e7$", 1);
    auto desktop = create();
    ASSERT_TRUE(desktop);
    EXPECT_EQ(desktop->path.substr(0, 17), to_wide("Service-0x0-3e7$\\"));
}

TEST_F(PrivateDesktopTest, GroupThatIsNoSidFailsBeforeTheWindowStationIsAsked) {
    winsim::inject_fault("GetProcessWindowStation", ERROR_ACCESS_DENIED);
    auto desktop = create("S-1-bad");
    ASSERT_FALSE(desktop);
    EXPECT_EQ(desktop.error().code, "invalid_sid");
    EXPECT_EQ(winsim::pending_fault_count(), 1u);
}

TEST_F(PrivateDesktopTest, EveryPlatformFailureGivesItsRowAndReleasesEverything) {
    struct Row {
        const char* function;
        std::uint64_t nth;
        std::uint32_t value;
        const char* code;
        const char* message;
    } rows[] = {
        {"GetProcessWindowStation", 1, 5, "window_station_name_failed",
         "Could not access the current command window station. Windows error 5."},
        {"GetUserObjectInformationW", 1, 6, "window_station_name_failed",
         "Could not read the current command window station name. Windows error 6."},
        {"GetUserObjectInformationW", 2, 5, "window_station_name_failed",
         "Could not read the current command window station name. Windows error 5."},
        {"SetEntriesInAclW", 1, 1337, "user_object_acl_failed",
         "Could not prepare private command access: 1337."},
        {"InitializeSecurityDescriptor", 1, 1305, "user_object_acl_failed",
         "Could not initialize private command access. Windows error 1305."},
        {"SetSecurityDescriptorDacl", 1, 1338, "user_object_acl_failed",
         "Could not apply private command access. Windows error 1338."},
        {"CreateDesktopW", 1, 5, "desktop_create_failed",
         "Could not create private command desktop. Windows error 5."},
    };
    for (const auto& row : rows) {
        winsim::inject_fault(row.function, row.value, row.nth);
        auto desktop = create();
        ASSERT_FALSE(desktop) << row.function;
        EXPECT_EQ(desktop.error(), fixed_failure(row.code, row.message, 70)) << row.function;
        EXPECT_EQ(winsim::open_handle_count(), handles_) << row.function;
        EXPECT_EQ(winsim::outstanding_local_allocations(), allocations_) << row.function;
    }
}

}  // namespace
}  // namespace quarvel
