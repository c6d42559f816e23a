// The offline rule seen from outside, as a host sees it: the built program's probe refuses every
// rule that lets some of the offline account's traffic through, setup widens such a rule back,
// a firewall that does not enforce the rule fails every load with its own code, and a rule that
// cannot be looked up stops setup instead of being added a second time.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <nlohmann/json.hpp>

#include <string>

#include "support/protected_machine.h"

namespace quarvel::testing {
namespace {

constexpr const char* kRuleName = "quarvel_protected_commands_offline";
constexpr const char* kRefresh = "Windows protection setup must refresh its network rule.";
constexpr const char* kNotEnforcing =
    "Windows Firewall is not enforcing the network rule for commands without network access.";

std::string error_line(const std::string& code, const std::string& message) {
    return R"({"code":")" + code + R"(","message":")" + message + "\"}\n";
}

std::string failed_document(const std::string& operation, const std::string& state,
                            const std::string& code, const std::string& message) {
    return R"({"version":1,"operation":")" + operation + R"(","state":")" + state +
           R"(","code":")" + code + R"(","message":")" + message + R"(","setup_version":2})";
}

const std::string kProbeReady = R"({"version":1,"operation":"probe","state":"ready","code":)"
                                R"("ready","message":"Windows command protection is ready.",)"
                                R"("setup_version":2})";

class OfflineRuleOnMachine : public ProtectedMachine {
  protected:
    static nlohmann::json rules() { return nlohmann::json::parse(winsim::firewall_rules_json()); }

    static nlohmann::json offline_rule() {
        for (const auto& rule : rules())
            if (rule["name"] == kRuleName)
                return rule;
        return nullptr;
    }

    std::string offline_sid() const {
        return nlohmann::json::parse(marker())["offline_sid"].get<std::string>();
    }

    void expect_probe_fails(const std::string& what, const std::string& code,
                            const std::string& message, const std::string& state) const {
        const auto outcome = probe();
        EXPECT_EQ(outcome.exit_code, 78) << what;
        EXPECT_EQ(outcome.standard_output, "") << what;
        EXPECT_EQ(outcome.standard_error, error_line(code, message)) << what;
        EXPECT_EQ(status(), failed_document("probe", state, code, message)) << what;
    }
};

TEST_F(OfflineRuleOnMachine, ProbeRefusesEveryRuleThatLetsSomeOfTheAccountsTrafficThrough) {
    prepare();
    const std::string sid = offline_sid();
    const nlohmann::json original = offline_rule();
    const auto users = [](const std::string& entries) {
        return nlohmann::json{{"local_user_authorized_list", "O:LSD:" + entries}}.dump();
    };
    struct Row {
        const char* what;
        std::string changes;
    } rows[] = {
        {"a SID that merely begins with the account's", users("(A;;CC;;;" + sid + "1)")},
        {"a deny entry instead of an allow entry", users("(D;;CC;;;" + sid + ")")},
        {"a deny entry for everyone beside the allow entry",
         users("(D;;CC;;;WD)(A;;CC;;;" + sid + ")")},
        {"an inherit-only entry", users("(A;IO;CC;;;" + sid + ")")},
        {"one remote address", R"({"remote_addresses":"93.184.216.34"})"},
        {"one local address", R"({"local_addresses":"10.0.0.2"})"},
        {"TCP to one remote port", R"({"protocol":6,"remote_ports":"443"})"},
        {"UDP from one local port", R"({"protocol":17,"local_ports":"53"})"},
        {"ICMP only", R"({"protocol":1})"},
        {"one application", R"({"application_name":"C:\\tools\\curl.exe"})"},
        {"one service", R"({"service_name":"BITS"})"},
        {"one app package", R"({"local_app_package_id":"S-1-15-2-1"})"},
        {"wireless interfaces only", R"({"interface_types":"Wireless"})"},
        {"one interface", R"({"interfaces":["Ethernet"]})"},
        {"the public profile only", R"({"profiles":4})"},
    };
    for (const auto& row : rows) {
        winsim::change_firewall_rule(kRuleName, row.changes);
        expect_probe_fails(row.what, "setup_required", kRefresh, "setup_required");
        winsim::change_firewall_rule(kRuleName, original.dump());
    }
    EXPECT_EQ(probe().exit_code, 0);
}

TEST_F(OfflineRuleOnMachine, SetupWidensARuleNarrowedInEveryWayAndProbeIsReadyAgain) {
    prepare();
    const std::string sid = offline_sid();
    winsim::change_firewall_rule(
        kRuleName,
        nlohmann::json{{"local_user_authorized_list", "O:LSD:(D;;CC;;;WD)(A;;CC;;;" + sid + "1)"},
                       {"protocol", 6},
                       {"local_ports", "1024-65535"},
                       {"remote_ports", "443"},
                       {"profiles", 2},
                       {"remote_addresses", "93.184.216.34"},
                       {"local_addresses", "10.0.0.2"},
                       {"application_name", "C:\\tools\\curl.exe"},
                       {"service_name", "BITS"},
                       {"local_app_package_id", "S-1-15-2-1"},
                       {"interface_types", "Lan,Wireless"},
                       {"interfaces", {"Ethernet"}}}
            .dump());
    expect_probe_fails("narrowed", "setup_required", kRefresh, "setup_required");

    const auto outcome = setup();
    ASSERT_EQ(outcome.exit_code, 0) << outcome.standard_error;
    ASSERT_EQ(rules().size(), 1u);
    const auto rule = offline_rule();
    EXPECT_EQ(rule["local_user_authorized_list"], "O:LSD:(A;;CC;;;" + sid + ")");
    EXPECT_EQ(rule["protocol"], 256);
    EXPECT_EQ(rule["profiles"], 0x7FFFFFFF);
    EXPECT_EQ(rule["local_addresses"], "*");
    EXPECT_EQ(rule["remote_addresses"], "*");
    EXPECT_EQ(rule["interface_types"], "All");
    for (const char* cleared : {"local_ports", "remote_ports", "application_name", "service_name",
                                "local_app_package_id", "interfaces"})
        EXPECT_EQ(rule[cleared], nullptr) << cleared;

    const auto probed = probe();
    EXPECT_EQ(probed.exit_code, 0) << probed.standard_error;
    EXPECT_EQ(status(), kProbeReady);
}

// Setup cannot turn the firewall on: it leaves a sound rule and its files, and its own last load
// reports what the host must tell the user. Once the firewall applies local rules again, probe
// is ready without another setup.
TEST_F(OfflineRuleOnMachine, FirewallThatDoesNotEnforceTheRuleFailsEveryLoadWithItsOwnCode) {
    prepare();
    write_policy(R"(,"network":"disabled")");
    struct Row {
        const char* what;
        const char* settings;
    } rows[] = {
        {"off for the current network's profile", R"({"current_profiles":4,"enabled_profiles":3})"},
        {"off for one of two current profiles", R"({"current_profiles":6,"enabled_profiles":5})"},
        {"off for the domain profile alone", R"({"current_profiles":1,"enabled_profiles":6})"},
        {"local rules overridden by group policy", R"({"local_policy_modify_state":1})"},
        {"every local setting overridden", R"({"local_policy_modify_state":3})"},
    };
    const std::string on = R"({"current_profiles":4,"enabled_profiles":7,)"
                           R"("local_policy_modify_state":0})";
    for (const auto& row : rows) {
        winsim::change_firewall_policy(row.settings);
        expect_probe_fails(row.what, "firewall_disabled", kNotEnforcing, "failed");

        const auto set_up = setup();
        EXPECT_EQ(set_up.exit_code, 78) << row.what;
        EXPECT_EQ(set_up.standard_error, error_line("firewall_disabled", kNotEnforcing))
            << row.what;
        EXPECT_EQ(status(), failed_document("setup", "failed", "firewall_disabled", kNotEnforcing))
            << row.what;
        EXPECT_EQ(rules().size(), 1u) << row.what;

        const auto ran = run({"streams", "", "", "0"});
        EXPECT_EQ(ran.exit_code, 78) << row.what;
        EXPECT_EQ(ran.standard_error, error_line("firewall_disabled", kNotEnforcing)) << row.what;

        winsim::change_firewall_policy(on);
        const auto probed = probe();
        EXPECT_EQ(probed.exit_code, 0) << row.what << ": " << probed.standard_error;
    }
    // Enforced where traffic goes: off only for a profile no network is in, on everywhere, no
    // current network at all, or inbound connections blocked altogether (an outbound block rule
    // stays in force).
    for (const char* enforced :
         {R"({"current_profiles":2,"enabled_profiles":2})",
          R"({"current_profiles":7,"enabled_profiles":7})",
          R"({"current_profiles":0,"enabled_profiles":0})", R"({"local_policy_modify_state":2})"}) {
        winsim::change_firewall_policy(enforced);
        EXPECT_EQ(probe().exit_code, 0) << enforced;
    }
    // A missing rule is reported before a firewall that is off: setup can repair the one.
    winsim::change_firewall_policy(R"({"current_profiles":4,"enabled_profiles":3})");
    winsim::remove_firewall_rules(kRuleName);
    expect_probe_fails("missing rule, firewall off", "setup_required", kRefresh,
                       "setup_required");
}

// Only a rule that does not exist is added. A lookup refused for another reason stops setup with
// the lookup's own failure, and the rules stay as they were: one rule, or none.
TEST_F(OfflineRuleOnMachine, SetupStopsWhenTheRuleCannotBeLookedUpInsteadOfAddingASecond) {
    prepare();
    ProcessOptions refused;
    refused.environment["WINSIM_FAULTS"] = "INetFwRules::Item:1:0x80070005";
    const std::string message = "Access is denied. (0x80070005)";
    for (const bool rule_exists : {true, false}) {
        if (!rule_exists)
            winsim::remove_firewall_rules(kRuleName);
        const std::string before = winsim::firewall_rules_json();
        const auto outcome = setup(refused);
        EXPECT_EQ(outcome.exit_code, 70) << rule_exists;
        EXPECT_EQ(outcome.standard_error, error_line("firewall_rule_failed", message))
            << rule_exists;
        EXPECT_EQ(status(), failed_document("setup", "failed", "firewall_rule_failed", message))
            << rule_exists;
        EXPECT_EQ(winsim::firewall_rules_json(), before) << rule_exists;
    }
    // Without the refusal the missing rule is added once.
    ASSERT_EQ(setup().exit_code, 0);
    EXPECT_EQ(rules().size(), 1u);
}

}  // namespace
}  // namespace quarvel::testing
