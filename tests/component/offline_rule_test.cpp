// The offline firewall rule on the simulated host: setup makes and repairs it, every load proves
// it, tampering is caught, and every failure a COM call can cause gives its row with every
// interface, string and apartment given back.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <winsim/testing.h>

#include <string>

#include "platform/win32.h"
#include "support/leak_checked_test.h"
#include "windows/setup/offline_rule.h"

namespace quarvel {
namespace {

constexpr const char* kRuleName = "quarvel_protected_commands_offline";
constexpr const char* kSid = "S-1-5-21-1000-2000-3000-1005";
constexpr const char* kRefresh = "Windows protection setup must refresh its network rule.";
constexpr const char* kOutOfMemory =
    "Not enough memory resources are available to complete this operation. (0x8007000E)";
constexpr const char* kNoText = "The operation completed successfully. (0x00000000)";

std::string users_of(const std::string& sid) {
    return "O:LSD:(A;;CC;;;" + sid + ")";
}

class OfflineRule : public testing::LeakCheckedTest {
  protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        outside_apartment_ = winsim::com_calls_outside_apartment();
        token_ = winsim::process_token_json();
    }
    void TearDown() override {
        // The token this process had, for the tests that run after this one in it.
        winsim::set_process_token_json(token_);
        expect_everything_released("at the end");
        LeakCheckedTest::TearDown();
    }

    void expect_everything_released(const std::string& where) {
        EXPECT_EQ(winsim::live_com_objects(), 0u) << where;
        EXPECT_EQ(winsim::outstanding_bstrs(), 0u) << where;
        EXPECT_EQ(winsim::outstanding_safe_arrays(), 0u) << where;
        EXPECT_EQ(winsim::com_initialization_depth(), 0u) << where;
        EXPECT_EQ(winsim::com_calls_outside_apartment(), outside_apartment_) << where;
        EXPECT_EQ(winsim::open_handle_count(), handles_) << where;
        EXPECT_EQ(winsim::outstanding_local_allocations(), allocations_) << where;
    }

    static nlohmann::json rules() { return nlohmann::json::parse(winsim::firewall_rules_json()); }

    // A rule as setup leaves it, made without the program.
    static void add_blocking_rule() {
        winsim::add_firewall_rule(nlohmann::json{
            {"name", kRuleName},
            {"direction", 2},
            {"action", 0},
            {"enabled", true},
            {"local_user_authorized_list",
             users_of(kSid)}}.dump());
    }

    std::size_t outside_apartment_ = 0;
    std::string token_;
};

TEST_F(OfflineRule, MissingRuleNeedsRefreshAndSetupCreatesOneThatPasses) {
    EXPECT_EQ(verify_offline_rule(kSid),
              Result<void>(std::unexpected(fixed_failure("setup_required", kRefresh, 78))));
    const auto ensured = ensure_offline_rule(kSid);
    ASSERT_TRUE(ensured) << ensured.error().message;
    EXPECT_TRUE(verify_offline_rule(kSid));

    const auto stored = rules();
    ASSERT_EQ(stored.size(), 1u);
    const auto& rule = stored[0];
    EXPECT_EQ(rule["name"], kRuleName);
    EXPECT_EQ(rule["description"], "Quarvel protected commands without network access");
    EXPECT_EQ(rule["direction"], 2);
    EXPECT_EQ(rule["action"], 0);
    EXPECT_EQ(rule["enabled"], true);
    EXPECT_EQ(rule["profiles"], 0x7FFFFFFF);
    EXPECT_EQ(rule["protocol"], 256);
    EXPECT_EQ(rule["local_user_authorized_list"], users_of(kSid));
    // What could narrow the rule is set to match all traffic.
    EXPECT_EQ(rule["application_name"], nullptr);
    EXPECT_EQ(rule["service_name"], nullptr);
    EXPECT_EQ(rule["local_app_package_id"], nullptr);
    EXPECT_EQ(rule["local_addresses"], "*");
    EXPECT_EQ(rule["remote_addresses"], "*");
    EXPECT_EQ(rule["local_ports"], nullptr);
    EXPECT_EQ(rule["remote_ports"], nullptr);
    EXPECT_EQ(rule["interface_types"], "All");
    EXPECT_EQ(rule["interfaces"], nullptr);
}

TEST_F(OfflineRule, SetupRewritesTheRuleOfThatNameInsteadOfAddingAnother) {
    ASSERT_TRUE(ensure_offline_rule(kSid));
    winsim::change_firewall_rule(kRuleName, R"({"description": "changed", "profiles": 1})");
    ASSERT_TRUE(ensure_offline_rule("S-1-5-21-1000-2000-3000-1007"));
    const auto stored = rules();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0]["description"], "Quarvel protected commands without network access");
    EXPECT_EQ(stored[0]["profiles"], 0x7FFFFFFF);
    EXPECT_EQ(stored[0]["local_user_authorized_list"], users_of("S-1-5-21-1000-2000-3000-1007"));
}

TEST_F(OfflineRule, TamperedRuleFailsVerificationUntilSetupRepairsIt) {
    struct Row {
        const char* tampering;
        const char* changes;  // null: the rule is removed
    } rows[] = {
        {"missing", nullptr},
        {"disabled", R"({"enabled": false})"},
        {"allow rule", R"({"action": 1})"},
        {"inbound", R"({"direction": 1})"},
        {"another SID",
         R"j({"local_user_authorized_list": "O:LSD:(A;;CC;;;S-1-5-21-1000-2000-3000-1006)"})j"},
        {"no list", R"({"local_user_authorized_list": null})"},
        {"SID in lower case",
         R"j({"local_user_authorized_list": "O:LSD:(A;;CC;;;s-1-5-21-1000-2000-3000-1005)"})j"},
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(ensure_offline_rule(kSid)) << row.tampering;
        if (row.changes == nullptr)
            winsim::remove_firewall_rules(kRuleName);
        else
            winsim::change_firewall_rule(kRuleName, row.changes);
        const auto verified = verify_offline_rule(kSid);
        ASSERT_FALSE(verified) << row.tampering;
        EXPECT_EQ(verified.error(), fixed_failure("setup_required", kRefresh, 78)) << row.tampering;

        const auto repaired = ensure_offline_rule(kSid);
        ASSERT_TRUE(repaired) << row.tampering << ": " << repaired.error().message;
        EXPECT_TRUE(verify_offline_rule(kSid)) << row.tampering;
        EXPECT_EQ(rules().size(), 1u) << row.tampering;
        expect_everything_released(row.tampering);
    }
}

TEST_F(OfflineRule, SidAmongOtherAllowEntriesPassesTheDescriptionAndGroupingDoNotMatter) {
    add_blocking_rule();
    const std::string users = "O:LSD:(A;;CC;;;S-1-5-18)(A;;CC;;;" + std::string(kSid) + ")";
    winsim::change_firewall_rule(kRuleName, nlohmann::json{{"local_user_authorized_list", users},
                                                           {"description", nullptr},
                                                           {"grouping", "Quarvel"},
                                                           {"profiles", 7}}
                                                .dump());
    EXPECT_TRUE(verify_offline_rule(kSid));
    // No entry names an empty SID.
    EXPECT_EQ(verify_offline_rule(""),
              Result<void>(std::unexpected(fixed_failure("setup_required", kRefresh, 78))));
}

// Every narrowing at once, on the rule of that name: setup widens each of them back, ports and
// ICMP types before the protocol (Windows refuses to change the protocol of a rule that still
// names them), and the rule passes again.
TEST_F(OfflineRule, SetupWidensEveryNarrowingOfAnExistingRule) {
    const char* narrowed[] = {
        R"({"protocol": 6, "local_ports": "1024-65535", "remote_ports": "443", "profiles": 4,
            "remote_addresses": "10.0.0.1", "local_addresses": "10.0.0.2",
            "application_name": "C:\\tools\\curl.exe", "service_name": "BITS",
            "interface_types": "Lan,Wireless", "interfaces": ["Ethernet", "Wi-Fi"],
            "local_app_package_id": "S-1-15-2-1"})",
        R"({"protocol": 58, "icmp_types_and_codes": "128:0"})",
        R"({"protocol": 17, "remote_ports": "53"})",
        R"({"protocol": 47})",
    };
    for (const char* changes : narrowed) {
        winsim::remove_firewall_rules(kRuleName);
        add_blocking_rule();
        winsim::change_firewall_rule(kRuleName, changes);
        ASSERT_FALSE(verify_offline_rule(kSid)) << changes;
        const auto repaired = ensure_offline_rule(kSid);
        ASSERT_TRUE(repaired) << changes << ": " << repaired.error().message;
        EXPECT_TRUE(verify_offline_rule(kSid)) << changes;
        const auto rule = rules()[0];
        EXPECT_EQ(rule["protocol"], 256) << changes;
        for (const char* cleared :
             {"local_ports", "remote_ports", "icmp_types_and_codes", "application_name",
              "service_name", "interfaces", "local_app_package_id"})
            EXPECT_EQ(rule[cleared], nullptr) << changes << " " << cleared;
        expect_everything_released(changes);
    }
}

TEST_F(OfflineRule, ThreadInTheMultithreadedApartmentGivesFirewallUnavailable) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    const Failure expected = fixed_failure(
        "firewall_unavailable", "Cannot change thread mode after it is set. (0x80010106)", 70);
    EXPECT_EQ(verify_offline_rule(kSid), Result<void>(std::unexpected(expected)));
    EXPECT_EQ(ensure_offline_rule(kSid), Result<void>(std::unexpected(expected)));
    // The failed initialisation was not balanced: the thread's own one is still there.
    EXPECT_EQ(winsim::com_initialization_depth(), 1u);
    CoUninitialize();
    EXPECT_TRUE(rules().empty());
}

TEST_F(OfflineRule, ThreadAlreadyInASingleThreadedApartmentIsLeftAsItWas) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_TRUE(ensure_offline_rule(kSid));
    EXPECT_TRUE(verify_offline_rule(kSid));
    EXPECT_EQ(winsim::com_initialization_depth(), 1u);
    CoUninitialize();
}

TEST_F(OfflineRule, ChangingTheRuleNeedsAnElevatedAdministratorReadingDoesNot) {
    winsim::set_process_token_json(winsim::administrator_token_json(false));
    const Failure denied =
        fixed_failure("firewall_rule_failed", "Access is denied. (0x80070005)", 70);
    EXPECT_EQ(ensure_offline_rule(kSid), Result<void>(std::unexpected(denied)));
    EXPECT_TRUE(rules().empty());
    add_blocking_rule();
    EXPECT_EQ(ensure_offline_rule(kSid), Result<void>(std::unexpected(denied)));
    EXPECT_TRUE(verify_offline_rule(kSid));
}

TEST_F(OfflineRule, ErrorObjectOfTheFailedLookupIsNotReportedForALaterCall) {
    winsim::describe_next_failure_of("INetFwRules::Item", "The rule was not found in the store.");
    winsim::inject_fault("CoCreateInstance", 0x80004005u, 2);
    const auto ensured = ensure_offline_rule(kSid);
    ASSERT_FALSE(ensured);
    EXPECT_EQ(ensured.error(),
              fixed_failure("firewall_rule_failed", "Unspecified error (0x80004005)", 70));
}

// Where a row starts: no rule, or the rule as setup leaves it (rewritten or verified), or a rule
// narrowed to TCP ports or ICMP types, which setup must widen before it changes the protocol.
enum class Start { no_rule, ensure_existing, verify_existing, ensure_tcp, ensure_icmp };

TEST_F(OfflineRule, EveryPlatformFailureGivesItsRowAndReleasesEverything) {
    using winsim::FaultKind;
    const FaultKind fail = FaultKind::fail;
    const FaultKind quirk = FaultKind::quirk;
    struct Row {
        Start start;
        const char* function;
        std::uint64_t nth;
        std::uint32_t value;
        FaultKind kind;
        const char* description;  // the error object the failing call leaves, if any
        const char* code;
        const char* message;
    } rows[] = {
        // Opening, the same for both operations.
        {Start::no_rule, "CoInitializeEx", 1, 0x80004005, fail, nullptr, "firewall_unavailable",
         "Unspecified error (0x80004005)"},
        {Start::verify_existing, "CoInitializeEx", 1, 0x8007000E, fail, nullptr,
         "firewall_unavailable", kOutOfMemory},
        {Start::verify_existing, "CoCreateInstance", 1, 0x80040154, fail, nullptr,
         "firewall_unavailable", "Class not registered (0x80040154)"},
        {Start::ensure_existing, "CoCreateInstance", 1, 0, quirk, nullptr, "firewall_unavailable",
         kNoText},
        {Start::no_rule, "INetFwPolicy2::get_Rules", 1, 0x80070005, fail,
         "The firewall service is not running.", "firewall_unavailable",
         "The firewall service is not running. (0x80070005)"},
        {Start::verify_existing, "INetFwPolicy2::get_Rules", 1, 0, quirk, nullptr,
         "firewall_unavailable", kNoText},
        {Start::verify_existing, "SysAllocStringLen", 1, 0, fail, nullptr, "firewall_rule_failed",
         kOutOfMemory},
        {Start::no_rule, "SysAllocStringLen", 1, 0, fail, nullptr, "firewall_rule_failed",
         kOutOfMemory},
        // A new rule.
        {Start::no_rule, "CoCreateInstance", 2, 0x8007000E, fail, nullptr, "firewall_rule_failed",
         kOutOfMemory},
        {Start::no_rule, "CoCreateInstance", 2, 0, quirk, nullptr, "firewall_rule_failed", kNoText},
        {Start::no_rule, "SysAllocStringLen", 2, 0, fail, nullptr, "firewall_rule_failed",
         kOutOfMemory},
        {Start::no_rule, "INetFwRule::put_Name", 1, 0x80070057, fail, nullptr,
         "firewall_rule_failed", "The parameter is incorrect. (0x80070057)"},
        {Start::no_rule, "SysAllocStringLen", 3, 0, fail, nullptr, "firewall_rule_failed",
         kOutOfMemory},
        {Start::no_rule, "INetFwRule::put_Description", 1, 0xD0000022, fail, nullptr,
         "firewall_rule_failed",
         "{Access Denied}\r\nA process has requested access to an object, but has not been "
         "granted those access rights. (0xD0000022)"},
        {Start::no_rule, "INetFwRule::put_Direction", 1, 0x80004005, fail, nullptr,
         "firewall_rule_failed", "Unspecified error (0x80004005)"},
        {Start::no_rule, "INetFwRule::put_Action", 1, 0x80004005, fail, "Blocked by policy.",
         "firewall_rule_failed", "Blocked by policy. (0x80004005)"},
        {Start::no_rule, "INetFwRule::put_Enabled", 1, 0x8000FFFF, fail, nullptr,
         "firewall_rule_failed", "Catastrophic failure (0x8000FFFF)"},
        {Start::no_rule, "INetFwRule::put_Profiles", 1, 0x80070057, fail, nullptr,
         "firewall_rule_failed", "The parameter is incorrect. (0x80070057)"},
        {Start::no_rule, "INetFwRule::put_Protocol", 1, 0x8FFF1234, fail, nullptr,
         "firewall_rule_failed", "0x8FFF1234"},
        {Start::no_rule, "SysAllocStringLen", 4, 0, fail, nullptr, "firewall_rule_failed",
         kOutOfMemory},
        {Start::no_rule, "INetFwRule3::put_LocalUserAuthorizedList", 1, 0x80070057, fail, nullptr,
         "firewall_rule_failed", "The parameter is incorrect. (0x80070057)"},
        {Start::no_rule, "INetFwRule::get_Protocol", 1, 0x80004005, fail, nullptr,
         "firewall_rule_failed", "Unspecified error (0x80004005)"},
        {Start::no_rule, "SysAllocStringLen", 5, 0, fail, nullptr, "firewall_rule_failed",
         kOutOfMemory},
        {Start::no_rule, "INetFwRule::put_LocalAddresses", 1, 0xD000000D, fail, nullptr,
         "firewall_rule_failed",
         "An invalid parameter was passed to a service or function. (0xD000000D)"},
        {Start::no_rule, "INetFwRule::put_RemoteAddresses", 1, 0x80070057, fail, nullptr,
         "firewall_rule_failed", "The parameter is incorrect. (0x80070057)"},
        {Start::no_rule, "INetFwRule::put_ApplicationName", 1, 0x80070005, fail, "Locked.",
         "firewall_rule_failed", "Locked. (0x80070005)"},
        {Start::no_rule, "INetFwRule::put_ServiceName", 1, 0x80004005, fail, nullptr,
         "firewall_rule_failed", "Unspecified error (0x80004005)"},
        {Start::no_rule, "SysAllocStringLen", 7, 0, fail, nullptr, "firewall_rule_failed",
         kOutOfMemory},
        {Start::no_rule, "INetFwRule::put_InterfaceTypes", 1, 0x80070057, fail, nullptr,
         "firewall_rule_failed", "The parameter is incorrect. (0x80070057)"},
        {Start::no_rule, "INetFwRule::put_Interfaces", 1, 0x80070057, fail, nullptr,
         "firewall_rule_failed", "The parameter is incorrect. (0x80070057)"},
        {Start::no_rule, "INetFwRule3::put_LocalAppPackageId", 1, 0x80004005, fail, nullptr,
         "firewall_rule_failed", "Unspecified error (0x80004005)"},
        {Start::no_rule, "INetFwRules::Add", 1, 0x80070005, fail, nullptr, "firewall_rule_failed",
         "Access is denied. (0x80070005)"},
        {Start::no_rule, "INetFwRule::put_Description", 2, 0x80070005, fail, nullptr,
         "firewall_rule_failed", "Access is denied. (0x80070005)"},
        {Start::no_rule, "INetFwRule3::put_LocalUserAuthorizedList", 2, 0x80004005, fail, nullptr,
         "firewall_rule_failed", "Unspecified error (0x80004005)"},
        {Start::no_rule, "INetFwRule3::get_LocalUserAuthorizedList", 1, 0x80004005, fail, nullptr,
         "firewall_rule_verify_failed", "Unspecified error (0x80004005)"},
        // An existing rule.
        {Start::ensure_existing, "INetFwRules::Item", 1, 0, quirk, nullptr, "firewall_rule_failed",
         kNoText},
        {Start::ensure_existing, "INetFwRule::QueryInterface", 1, 0x80004002, fail, nullptr,
         "firewall_rule_failed", "No such interface supported (0x80004002)"},
        {Start::ensure_existing, "INetFwRule::QueryInterface", 1, 0, quirk, nullptr,
         "firewall_rule_failed", kNoText},
        {Start::ensure_existing, "INetFwRule::put_Enabled", 1, 0x80070005, fail, nullptr,
         "firewall_rule_failed", "Access is denied. (0x80070005)"},
        {Start::ensure_existing, "INetFwRule::get_Action", 1, 0x80004005, fail, nullptr,
         "firewall_rule_verify_failed", "Unspecified error (0x80004005)"},
        {Start::ensure_existing, "INetFwRules::Item", 1, 0x80070005, fail, "Refused.",
         "firewall_rule_failed", "Refused. (0x80070005)"},
        {Start::ensure_existing, "INetFwRule3::put_LocalAppPackageId", 1, 0x80070005, fail, nullptr,
         "firewall_rule_failed", "Access is denied. (0x80070005)"},
        // A narrowed rule, widened before its protocol changes.
        {Start::ensure_tcp, "INetFwRule::get_Protocol", 1, 0x8007000E, fail, nullptr,
         "firewall_rule_failed", kOutOfMemory},
        {Start::ensure_tcp, "SysAllocStringLen", 3, 0, fail, nullptr, "firewall_rule_failed",
         kOutOfMemory},
        {Start::ensure_tcp, "INetFwRule::put_LocalPorts", 1, 0x80070057, fail, nullptr,
         "firewall_rule_failed", "The parameter is incorrect. (0x80070057)"},
        {Start::ensure_tcp, "SysAllocStringLen", 4, 0, fail, nullptr, "firewall_rule_failed",
         kOutOfMemory},
        {Start::ensure_tcp, "INetFwRule::put_RemotePorts", 1, 0x80070005, fail, "Locked.",
         "firewall_rule_failed", "Locked. (0x80070005)"},
        {Start::ensure_tcp, "INetFwRule::put_Protocol", 1, 0x80070057, fail, nullptr,
         "firewall_rule_failed", "The parameter is incorrect. (0x80070057)"},
        {Start::ensure_icmp, "SysAllocStringLen", 3, 0, fail, nullptr, "firewall_rule_failed",
         kOutOfMemory},
        {Start::ensure_icmp, "INetFwRule::put_IcmpTypesAndCodes", 1, 0x80004005, fail, nullptr,
         "firewall_rule_failed", "Unspecified error (0x80004005)"},
        // Verification.
        {Start::verify_existing, "INetFwRules::Item", 1, 0x80070005, fail, "Denied.",
         "setup_required", kRefresh},
        {Start::verify_existing, "INetFwRule::QueryInterface", 1, 0x80004002, fail, nullptr,
         "firewall_rule_failed", "No such interface supported (0x80004002)"},
        {Start::verify_existing, "INetFwRule3::get_LocalUserAuthorizedList", 1, 0x8007000E, fail,
         nullptr, "firewall_rule_verify_failed", kOutOfMemory},
        {Start::verify_existing, "INetFwRule::get_Enabled", 1, 0x80004005, fail, nullptr,
         "firewall_rule_verify_failed", "Unspecified error (0x80004005)"},
        {Start::verify_existing, "INetFwRule::get_Direction", 1, 0x80004005, fail, nullptr,
         "firewall_rule_verify_failed", "Unspecified error (0x80004005)"},
        {Start::verify_existing, "INetFwRule::get_Action", 1, 0xD0000022, fail, nullptr,
         "firewall_rule_verify_failed",
         "{Access Denied}\r\nA process has requested access to an object, but has not been "
         "granted those access rights. (0xD0000022)"},
        {Start::verify_existing, "INetFwRule::get_Profiles", 1, 0x80004005, fail, nullptr,
         "firewall_rule_verify_failed", "Unspecified error (0x80004005)"},
        {Start::verify_existing, "INetFwRule::get_Protocol", 1, 0x80070005, fail, "Denied.",
         "firewall_rule_verify_failed", "Denied. (0x80070005)"},
        {Start::verify_existing, "INetFwRule::get_LocalPorts", 1, 0x80004005, fail, nullptr,
         "firewall_rule_verify_failed", "Unspecified error (0x80004005)"},
        {Start::verify_existing, "INetFwRule::get_RemotePorts", 1, 0x80004005, fail, nullptr,
         "firewall_rule_verify_failed", "Unspecified error (0x80004005)"},
        {Start::verify_existing, "INetFwRule::get_LocalAddresses", 1, 0x8007000E, fail, nullptr,
         "firewall_rule_verify_failed", kOutOfMemory},
        {Start::verify_existing, "INetFwRule::get_RemoteAddresses", 1, 0x80004005, fail, nullptr,
         "firewall_rule_verify_failed", "Unspecified error (0x80004005)"},
        {Start::verify_existing, "INetFwRule::get_ApplicationName", 1, 0x80004005, fail, nullptr,
         "firewall_rule_verify_failed", "Unspecified error (0x80004005)"},
        {Start::verify_existing, "INetFwRule::get_ServiceName", 1, 0x80004005, fail, nullptr,
         "firewall_rule_verify_failed", "Unspecified error (0x80004005)"},
        {Start::verify_existing, "INetFwRule::get_InterfaceTypes", 1, 0x80004005, fail, nullptr,
         "firewall_rule_verify_failed", "Unspecified error (0x80004005)"},
        {Start::verify_existing, "INetFwRule::get_Interfaces", 1, 0x8007000E, fail, nullptr,
         "firewall_rule_verify_failed", kOutOfMemory},
        {Start::verify_existing, "INetFwRule3::get_LocalAppPackageId", 1, 0x80004005, fail, nullptr,
         "firewall_rule_verify_failed", "Unspecified error (0x80004005)"},
        // The simulated rule hands out its texts in BSTRs of its own: after the name's, the
        // users list, then the local addresses (the ports of a rule for any protocol are null).
        {Start::verify_existing, "SysAllocStringLen", 3, 0, fail, nullptr,
         "firewall_rule_verify_failed", kOutOfMemory},
        // Whether the firewall applies the rule.
        {Start::verify_existing, "INetFwPolicy2::get_CurrentProfileTypes", 1, 0x80070005, fail,
         "The firewall service is stopped.", "firewall_unavailable",
         "The firewall service is stopped. (0x80070005)"},
        {Start::verify_existing, "INetFwPolicy2::get_FirewallEnabled", 1, 0x80004005, fail, nullptr,
         "firewall_unavailable", "Unspecified error (0x80004005)"},
        {Start::verify_existing, "INetFwPolicy2::get_LocalPolicyModifyState", 1, 0x8007000E, fail,
         nullptr, "firewall_unavailable", kOutOfMemory},
        // The message's own calls: no text can be had, or not the error object's.
        {Start::no_rule, "FormatMessageW", 1, 8, fail, nullptr, "firewall_rule_failed",
         "0x80070057"},
        {Start::no_rule, "GetModuleHandleW", 1, 126, fail, nullptr, "firewall_rule_failed",
         "0xD0000022"},
        {Start::no_rule, "IErrorInfo::GetDescription", 1, 0x8007000E, fail, "Lost.",
         "firewall_rule_failed", "The parameter is incorrect. (0x80070057)"},
    };
    for (const auto& row : rows) {
        const std::string where = std::string(row.function) + " #" + std::to_string(row.nth);
        winsim::remove_firewall_rules(kRuleName);
        if (row.start != Start::no_rule)
            add_blocking_rule();
        if (row.start == Start::ensure_tcp)
            winsim::change_firewall_rule(
                kRuleName, R"({"protocol": 6, "local_ports": "80", "remote_ports": "443"})");
        if (row.start == Start::ensure_icmp)
            winsim::change_firewall_rule(kRuleName,
                                         R"({"protocol": 1, "icmp_types_and_codes": "8:*"})");
        // The message calls fail only while a rule property fails to be set.
        const std::string function = row.function;
        std::string failing = function;
        if (function == "FormatMessageW" || function == "IErrorInfo::GetDescription") {
            failing = "INetFwRule::put_Name";
            winsim::inject_fault(failing, 0x80070057);
        } else if (function == "GetModuleHandleW") {
            failing = "INetFwRule::put_Name";
            winsim::inject_fault(failing, 0xD0000022);
        }
        winsim::inject_fault(row.function, row.value, row.nth, row.kind);
        if (row.description != nullptr)
            winsim::describe_next_failure_of(failing, row.description);

        const auto result = row.start == Start::verify_existing ? verify_offline_rule(kSid)
                                                                : ensure_offline_rule(kSid);
        ASSERT_FALSE(result) << where;
        const int exit_code = std::string(row.code) == "setup_required" ? 78 : 70;
        EXPECT_EQ(result.error(), fixed_failure(row.code, row.message, exit_code))
            << where << ": " << result.error().code << " " << result.error().message;
        EXPECT_EQ(winsim::pending_fault_count(), 0u) << where;
        winsim::clear_faults();
        expect_everything_released(where);
    }
}

}  // namespace
}  // namespace quarvel
