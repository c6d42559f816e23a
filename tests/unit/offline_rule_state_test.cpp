// The offline rule blocks the account only while nothing narrows it: every property that could
// let some of the account's traffic pass fails the test, and the forms Windows gives for "any"
// pass it.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "windows/setup/offline_rule_state.h"

namespace quarvel {
namespace {

constexpr const char* kSid = "S-1-5-21-1000-2000-3000-1005";

// The rule as setup leaves it, read back. Texts are emplaced, not assigned from a literal: GCC 12
// at -O3 takes the string's replace for an overlapping copy.
OfflineRuleState blocking_rule() {
    OfflineRuleState rule;
    rule.authorized_users = std::string("O:LSD:(A;;CC;;;") + kSid + ")";
    rule.enabled = true;
    rule.direction = 2;
    rule.action = 0;
    rule.profiles = 0x7FFFFFFF;
    rule.protocol = 256;
    rule.local_addresses.emplace("*");
    rule.remote_addresses.emplace("*");
    rule.interface_types.emplace("All");
    rule.all_interfaces = true;
    return rule;
}

TEST(OfflineRuleState, EveryNarrowingFailsAndEveryFormOfAnyPasses) {
    using Change = std::function<void(OfflineRuleState&)>;
    struct Row {
        const char* what;
        Change change;
        bool blocks;
    } rows[] = {
        {"as setup leaves it", [](OfflineRuleState&) {}, true},
        {"the three profiles named one by one", [](OfflineRuleState& r) { r.profiles = 7; }, true},
        {"ports given as *",
         [](OfflineRuleState& r) {
             r.local_ports.emplace("*");
             r.remote_ports.emplace("*");
         },
         true},
        {"ports given as empty text", [](OfflineRuleState& r) { r.local_ports.emplace(""); }, true},
        {"interface types in lower case",
         [](OfflineRuleState& r) { r.interface_types.emplace("all"); }, true},
        {"an application given as empty text",
         [](OfflineRuleState& r) { r.application.emplace(""); }, true},
        {"disabled", [](OfflineRuleState& r) { r.enabled = false; }, false},
        {"inbound", [](OfflineRuleState& r) { r.direction = 1; }, false},
        {"allowing", [](OfflineRuleState& r) { r.action = 1; }, false},
        {"another account",
         [](OfflineRuleState& r) {
             r.authorized_users = std::string("O:LSD:(A;;CC;;;S-1-5-21-1-2-3-4)");
         },
         false},
        {"one profile missing", [](OfflineRuleState& r) { r.profiles = 0x3; }, false},
        {"public profile only", [](OfflineRuleState& r) { r.profiles = 0x4; }, false},
        {"TCP only", [](OfflineRuleState& r) { r.protocol = 6; }, false},
        {"one local port", [](OfflineRuleState& r) { r.local_ports.emplace("443"); }, false},
        {"one remote port", [](OfflineRuleState& r) { r.remote_ports.emplace("80,443"); }, false},
        {"one remote address", [](OfflineRuleState& r) { r.remote_addresses.emplace("10.0.0.1"); },
         false},
        {"the local subnet", [](OfflineRuleState& r) { r.remote_addresses.emplace("LocalSubnet"); },
         false},
        {"one local address", [](OfflineRuleState& r) { r.local_addresses.emplace("10.0.0.2"); },
         false},
        {"no remote address read", [](OfflineRuleState& r) { r.remote_addresses.reset(); }, false},
        {"one application",
         [](OfflineRuleState& r) { r.application.emplace("C:\\Windows\\System32\\curl.exe"); },
         false},
        {"one service", [](OfflineRuleState& r) { r.service.emplace("BITS"); }, false},
        {"services only", [](OfflineRuleState& r) { r.service.emplace("*"); }, false},
        {"one app package", [](OfflineRuleState& r) { r.package.emplace("S-1-15-2-1"); }, false},
        {"wireless only", [](OfflineRuleState& r) { r.interface_types.emplace("Wireless"); },
         false},
        {"two interface types",
         [](OfflineRuleState& r) { r.interface_types.emplace("Lan,Wireless"); }, false},
        {"no interface types read", [](OfflineRuleState& r) { r.interface_types.reset(); }, false},
        {"one interface", [](OfflineRuleState& r) { r.all_interfaces = false; }, false},
    };
    for (const auto& row : rows) {
        OfflineRuleState rule = blocking_rule();
        row.change(rule);
        EXPECT_EQ(blocks_all_outbound_traffic(rule, kSid), row.blocks) << row.what;
    }
}

}  // namespace
}  // namespace quarvel
