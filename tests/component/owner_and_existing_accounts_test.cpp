// setup, probe and run from the outside on a throwaway machine: an owner that is no user account
// refused before anything is made or changed, owners written in any form Windows reads kept as
// typed and running, a protected account that holds the owner refused at every load, and
// existing accounts that someone disabled, Windows locked out or whose flags changed made again
// what setup creates.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <functional>
#include <set>

#include "support/path_security.h"
#include "support/protected_machine.h"

namespace quarvel::testing {
namespace {

constexpr const char* kOnline = "QuarvelSandboxOnline";
constexpr const char* kOffline = "QuarvelSandboxNoNet";
// What setup creates an account with, on the normal account type netapi32 gives it.
constexpr unsigned kCreatedFlags = 0x10241;
constexpr const char* kNotAUserAccount = "Owner SID must name a user account.";
constexpr const char* kUnsafe = "Protected command account has unsafe group membership.";

std::string error_line(const std::string& code, const std::string& message) {
    return R"({"code":")" + code + R"(","message":")" + message + "\"}\n";
}

std::string failed_document(const std::string& operation, const std::string& code,
                            const std::string& message) {
    return R"({"version":1,"operation":")" + operation + R"(","state":"failed","code":")" + code +
           R"(","message":")" + message + R"(","setup_version":2})";
}

nlohmann::json json_of(const std::string& text) {
    return nlohmann::json::parse(text, nullptr, false);
}

class OwnerAndExistingAccounts : public ProtectedMachine {
  protected:
    std::filesystem::path state(const std::string& name = "") const {
        return name.empty() ? host(kStateDir) : host(std::string(kStateDir) + "\\" + name);
    }
    static nlohmann::json accounts() { return json_of(winsim::accounts_json()); }
    static nlohmann::json user(const std::string& name) {
        const auto store = accounts();
        for (const auto& entry : store["users"])
            if (entry["name"] == name)
                return entry;
        return nullptr;
    }
    static bool group_exists(const std::string& name) {
        const auto store = accounts();
        for (const auto& entry : store["groups"])
            if (entry["name"] == name)
                return true;
        return false;
    }
    static std::string machine_sid() { return accounts()["machine_sid"]; }
    std::string marker_member(const char* key) const { return json_of(marker())[key]; }

    ProcessOutcome setup_owned_by(const std::string& owner) const {
        return program({"setup", "--state-dir", kStateDir, "--status-file", kStatusFile,
                        "--owner-sid", owner});
    }

    void set_marker_owner(const std::string& owner) const {
        auto document = json_of(marker());
        document["owner_sid"] = owner;
        std::ofstream(state("setup.json"), std::ios::trunc) << document.dump();
    }

    // A machine of its own for the next row, with the folders a run needs.
    void start_again() {
        std::filesystem::remove_all(machine_);
        SetUp();
    }
};

TEST_F(OwnerAndExistingAccounts, OwnerThatIsNoUserAccountIsRefusedBeforeAnythingIsMade) {
    const std::vector<std::string> owners = {
        "S-1-5-32-545", "BU",       "S-1-1-0",      "WD",
        "AU",           "S-1-5-11", "<none group>", "S-1-5-5-0-65536",
        "S-1-5-80-0",   "S-1-5-19", "S-1-5-32-546", "S-1-15-3-1024-1-2-3",
        "S-1-16-12288",
    };
    for (std::string owner : owners) {
        start_again();
        std::filesystem::remove_all(host("C:\\work"));
        if (owner == "<none group>")
            owner = machine_sid() + "-513";
        const auto outcome = setup_owned_by(owner);
        EXPECT_EQ(outcome.exit_code, 64) << owner;
        EXPECT_EQ(outcome.standard_error, error_line("invalid_request", kNotAUserAccount)) << owner;
        EXPECT_EQ(outcome.standard_output, "") << owner;
        EXPECT_EQ(status(), failed_document("setup", "invalid_request", kNotAUserAccount)) << owner;
        std::set<std::string> work;
        for (const auto& entry : std::filesystem::directory_iterator(host("C:\\work")))
            work.insert(entry.path().filename().string());
        EXPECT_EQ(work, std::set<std::string>{"status.json"}) << owner;
        EXPECT_FALSE(std::filesystem::exists(state())) << owner;
        EXPECT_FALSE(group_exists("QuarvelSandboxUsers")) << owner;
        EXPECT_TRUE(user(kOnline).is_null()) << owner;
        EXPECT_TRUE(user(kOffline).is_null()) << owner;
    }
}

TEST_F(OwnerAndExistingAccounts, ProtectedGroupOrAccountAsOwnerIsRefusedAndChangesNothing) {
    prepare();
    const std::string marker_before = marker();
    const std::string secrets_before = contents(state("credentials.json"));
    const auto access_before = read_path_security(to_wide(kStateDir)).entries;
    const std::string accounts_before = winsim::accounts_json();
    for (const char* key : {"group_sid", "online_sid", "offline_sid"}) {
        const auto outcome = setup_owned_by(marker_member(key));
        EXPECT_EQ(outcome.exit_code, 64) << key;
        EXPECT_EQ(outcome.standard_error, error_line("invalid_request", kNotAUserAccount)) << key;
        EXPECT_EQ(status(), failed_document("setup", "invalid_request", kNotAUserAccount)) << key;
        EXPECT_EQ(marker(), marker_before) << key;
        EXPECT_EQ(contents(state("credentials.json")), secrets_before) << key;
        EXPECT_EQ(read_path_security(to_wide(kStateDir)).entries, access_before) << key;
        EXPECT_EQ(winsim::accounts_json(), accounts_before) << key;
    }
    EXPECT_EQ(probe().exit_code, 0);
}

TEST_F(OwnerAndExistingAccounts, OwnerInAnyFormWindowsReadsIsKeptAsTypedAndRuns) {
    // "<admin>" stands for the machine's Administrator; how the row writes it, in `typed`.
    const struct {
        std::function<std::string(const std::string&)> typed;
        std::string standard;
    } rows[] = {
        {[](const std::string&) { return std::string("BA"); }, "S-1-5-32-544"},
        {[](const std::string&) { return std::string("SY"); }, "S-1-5-18"},
        {[](const std::string& admin) { return "s" + admin.substr(1); }, "<admin>"},
        {[](const std::string& admin) { return "S-1-0x000000000005" + admin.substr(5); },
         "<admin>"},
    };
    for (const auto& row : rows) {
        start_again();
        const std::string administrator = machine_sid() + "-500";
        const std::string typed = row.typed(administrator);
        const std::string standard = row.standard == "<admin>" ? administrator : row.standard;

        const auto outcome = setup_owned_by(typed);
        ASSERT_EQ(outcome.exit_code, 0) << typed << ": " << outcome.standard_error;
        EXPECT_EQ(marker_member("owner_sid"), typed);
        EXPECT_EQ(read_path_security(to_wide(kStateDir)).entries.at(0).sid, standard) << typed;

        write_policy();
        const auto ran = run({"streams", "out", "err", "3"});
        EXPECT_EQ(ran.exit_code, 3) << typed << ": " << ran.standard_error;
        EXPECT_EQ(ran.standard_output, "out") << typed;
        EXPECT_EQ(json_of(status())["state"], "completed") << typed;
    }
}

// The marker is changed behind setup's back: every load (probe, run) refuses a protected account
// that is the owner, or holds it as a group with whatever attributes (an integrity label is no
// enabled group), before it is used.
TEST_F(OwnerAndExistingAccounts, ProtectedAccountThatHoldsTheOwnerFailsEveryLoad) {
    prepare();
    const std::string original = marker_member("owner_sid");
    const std::vector<std::string> owners = {
        "S-1-5-32-545",
        "BU",
        "S-1-1-0",
        "AU",
        machine_sid() + "-513",
        marker_member("group_sid"),
        marker_member("online_sid"),
        marker_member("offline_sid"),
        "S-1-16-8192",
    };
    for (const auto& owner : owners) {
        set_marker_owner(owner);
        const auto outcome = probe();
        EXPECT_EQ(outcome.exit_code, 70) << owner;
        EXPECT_EQ(outcome.standard_error, error_line("account_verification_failed", kUnsafe))
            << owner;
        EXPECT_EQ(status(), failed_document("probe", "account_verification_failed", kUnsafe))
            << owner;
    }

    set_marker_owner("S-1-5-32-545");
    write_policy();
    const auto ran = run({"streams", "out", "err", "3"});
    EXPECT_EQ(ran.exit_code, 70);
    EXPECT_EQ(ran.standard_output, "");
    EXPECT_EQ(ran.standard_error, error_line("account_verification_failed", kUnsafe));
    EXPECT_EQ(status(), failed_document("run", "account_verification_failed", kUnsafe));

    set_marker_owner("not-a-sid");
    auto outcome = probe();
    EXPECT_EQ(outcome.exit_code, 70);
    EXPECT_EQ(
        outcome.standard_error,
        error_line("invalid_sid", "Could not parse security identifier. Windows error 1337."));

    for (const std::string& owner : {std::string("BA"), original}) {
        set_marker_owner(owner);
        outcome = probe();
        EXPECT_EQ(outcome.exit_code, 0) << owner << ": " << outcome.standard_error;
    }
}

TEST_F(OwnerAndExistingAccounts, SetupMakesDamagedAccountsWhatItCreatesAgain) {
    const std::string refused = "Could not sign in to protected command account. Windows error ";
    const struct {
        const char* what;
        std::function<void()> damage;
        std::string probe_error;  // "" when probe still finds the machine ready
    } rows[] = {
        {"disabled", [] { winsim::set_local_user_disabled(kOnline, true); },
         error_line("account_logon_failed", refused + "1331.")},
        {"locked out", [] { winsim::set_local_user_locked_out(kOffline, true); },
         error_line("account_logon_failed", refused + "1909.")},
        {"password may expire and be changed",
         [] { winsim::set_local_user_flags(kOnline, 0x0201); }, ""},
        {"all of it and no password required",
         [] { winsim::set_local_user_flags(kOnline, kCreatedFlags | 0x0002 | 0x0010 | 0x0020); },
         error_line("account_logon_failed", refused + "1331.")},
    };
    for (const auto& row : rows) {
        start_again();
        prepare();
        row.damage();
        auto outcome = probe();
        EXPECT_EQ(outcome.exit_code, row.probe_error.empty() ? 0 : 70) << row.what;
        EXPECT_EQ(outcome.standard_error, row.probe_error) << row.what;

        outcome = setup();
        EXPECT_EQ(outcome.exit_code, 0) << row.what << ": " << outcome.standard_error;
        for (const char* account : {kOnline, kOffline})
            EXPECT_EQ(user(account)["flags"], kCreatedFlags) << row.what << ", " << account;
        outcome = probe();
        EXPECT_EQ(outcome.exit_code, 0) << row.what << ": " << outcome.standard_error;
    }
}

}  // namespace
}  // namespace quarvel::testing
