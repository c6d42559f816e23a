// The simulated machine's accounts and the identities of its processes: the machine SID, the
// built-in groups, sign-in tokens, and children started as another identity.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <nlohmann/json.hpp>

#include <regex>
#include <string>

#include "support/host_process.h"
#include "support/process_runner.h"

namespace quarvel {
namespace {

nlohmann::json accounts() {
    return nlohmann::json::parse(winsim::accounts_json());
}

nlohmann::json group_named(const nlohmann::json& token, const std::string& sid) {
    for (const auto& group : token["groups"])
        if (group["sid"] == sid)
            return group;
    return nullptr;
}

class SimulatedAccounts : public ::testing::Test {
  protected:
    void SetUp() override { testing::use_fresh_machine(); }
};

TEST_F(SimulatedAccounts, MachineSidIsDrawnOnceAndKept) {
    const std::string machine_sid = accounts()["machine_sid"];
    EXPECT_TRUE(std::regex_match(machine_sid, std::regex(R"(S-1-5-21-\d+-\d+-\d+)")))
        << machine_sid;
    EXPECT_EQ(accounts()["machine_sid"], machine_sid);
    testing::use_fresh_machine();
    EXPECT_NE(accounts()["machine_sid"], machine_sid);
}

TEST_F(SimulatedAccounts, BuiltInGroupsHoldTheAdministratorAndEverySignIn) {
    const auto store = accounts();
    const std::string administrator = store["machine_sid"].get<std::string>() + "-500";
    bool found_administrators = false, found_users = false;
    for (const auto& group : store["groups"]) {
        if (group["sid"] == "S-1-5-32-544") {
            found_administrators = true;
            EXPECT_EQ(group["members"], nlohmann::json::array({administrator}));
        }
        if (group["sid"] == "S-1-5-32-545") {
            found_users = true;
            EXPECT_NE(std::find(group["members"].begin(), group["members"].end(), "S-1-5-11"),
                      group["members"].end());
        }
    }
    EXPECT_TRUE(found_administrators && found_users);
}

TEST_F(SimulatedAccounts, NewUsersGetConsecutiveRidsInTheMachineDomain) {
    const std::string machine_sid = accounts()["machine_sid"];
    EXPECT_EQ(winsim::ensure_local_user("first", "pw1"), machine_sid + "-1000");
    EXPECT_EQ(winsim::ensure_local_group("team"), machine_sid + "-1001");
    EXPECT_EQ(winsim::ensure_local_user("FIRST", "pw2"), machine_sid + "-1000");
}

TEST_F(SimulatedAccounts, SignInTokenHoldsTheUsersGroupsAndAFreshLogonSid) {
    const std::string user = winsim::ensure_local_user("worker", "pw");
    const std::string team = winsim::ensure_local_group("team");
    winsim::add_local_group_member("team", user);

    const auto token = nlohmann::json::parse(winsim::account_token_json("worker"));
    EXPECT_EQ(token["user"], user);
    EXPECT_EQ(token["elevated"], false);
    EXPECT_EQ(group_named(token, team)["attributes"], 7);
    EXPECT_EQ(group_named(token, "S-1-5-32-545")["attributes"], 7);
    EXPECT_EQ(
        group_named(token, accounts()["machine_sid"].get<std::string>() + "-513")["attributes"], 7);
    EXPECT_TRUE(group_named(token, "S-1-5-32-544").is_null());
    std::string logon_sid;
    for (const auto& group : token["groups"])
        if (group["attributes"] == 0xC0000007u)
            logon_sid = group["sid"];
    EXPECT_TRUE(logon_sid.starts_with("S-1-5-5-0-")) << logon_sid;

    const auto again = nlohmann::json::parse(winsim::account_token_json("worker"));
    for (const auto& group : again["groups"]) {
        if (group["attributes"] == 0xC0000007u) {
            EXPECT_NE(group["sid"], logon_sid);
        }
    }

    winsim::remove_local_group_member("team", user);
    const auto removed = nlohmann::json::parse(winsim::account_token_json("worker"));
    EXPECT_TRUE(group_named(removed, team).is_null());
    EXPECT_EQ(winsim::account_token_json("nobody"), "");
}

TEST_F(SimulatedAccounts, AdministratorsMembershipMakesAnAdministrator) {
    const std::string user = winsim::ensure_local_user("operator", "pw");
    winsim::add_local_group_member("Administrators", user);
    const auto filtered = nlohmann::json::parse(winsim::account_token_json("operator", false));
    EXPECT_EQ(group_named(filtered, "S-1-5-32-544")["attributes"], 0x10);
    const auto elevated = nlohmann::json::parse(winsim::account_token_json("operator", true));
    EXPECT_EQ(group_named(elevated, "S-1-5-32-544")["attributes"], 0xF);
    EXPECT_EQ(elevated["elevated"], true);
}

std::map<std::string, std::string> probe(const std::vector<std::string>& sids,
                                         std::map<std::string, std::string> environment = {}) {
    environment.emplace("WINSIM_TOKEN", "\x01unset");
    std::vector<std::string> command = {testing::test_program("identity_probe")};
    command.insert(command.end(), sids.begin(), sids.end());
    const auto outcome = testing::run_process(command, {environment, "", ""});
    EXPECT_EQ(outcome.exit_code, 0) << outcome.standard_error;
    std::map<std::string, std::string> lines;
    std::size_t start = 0;
    while (start < outcome.standard_output.size()) {
        const std::size_t end = outcome.standard_output.find('\n', start);
        const std::string line = outcome.standard_output.substr(start, end - start);
        const std::size_t equals = line.rfind('=');
        lines[line.substr(0, equals)] = line.substr(equals + 1);
        start = end == std::string::npos ? end : end + 1;
    }
    return lines;
}

TEST_F(SimulatedAccounts, ShellStartedProcessRunsAsTheElevatedAdministrator) {
    const std::string machine_sid = accounts()["machine_sid"];
    const auto identity = probe({"S-1-5-32-544", "S-1-1-0"});
    EXPECT_EQ(identity.at("user"), machine_sid + "-500");
    EXPECT_EQ(identity.at("elevated"), "1");
    EXPECT_EQ(identity.at("member S-1-5-32-544"), "1");
    EXPECT_EQ(identity.at("member S-1-1-0"), "1");
}

TEST_F(SimulatedAccounts, MachineCanStartShellProcessesWithoutElevation) {
    winsim::set_interactive_elevation(false);
    const auto identity = probe({"S-1-5-32-544"});
    EXPECT_EQ(identity.at("elevated"), "0");
    EXPECT_EQ(identity.at("member S-1-5-32-544"), "0");
}

TEST_F(SimulatedAccounts, ChildRunsAsTheTokenInItsEnvironment) {
    const std::string user = winsim::ensure_local_user("worker", "pw");
    const std::string team = winsim::ensure_local_group("team");
    winsim::add_local_group_member("team", user);
    const auto identity =
        probe({team, "S-1-5-32-544"}, {{"WINSIM_TOKEN", winsim::account_token_json("worker")}});
    EXPECT_EQ(identity.at("user"), user);
    EXPECT_EQ(identity.at("elevated"), "0");
    EXPECT_EQ(identity.at("member " + team), "1");
    EXPECT_EQ(identity.at("member S-1-5-32-544"), "0");
}

TEST_F(SimulatedAccounts, MalformedTokenInTheEnvironmentStopsTheChild) {
    const auto outcome = testing::run_process({testing::test_program("identity_probe")},
                                              {{{"WINSIM_TOKEN", "{\"groups\": []}"}}, "", ""});
    EXPECT_NE(outcome.exit_code, 0);
    EXPECT_NE(outcome.standard_error.find("WINSIM_TOKEN"), std::string::npos);
}

}  // namespace
}  // namespace quarvel
