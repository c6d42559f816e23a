// `setup` and `probe` from end to end on a throwaway machine: what setup leaves (files, access
// list, accounts, profiles, firewall rule), running it again, the order of its refusals, its
// failures with what stays behind, and probe's answers for a ready, missing, damaged or tampered
// installation; who may own an installation, an owner that every load refuses, and existing
// accounts that setup makes what it creates again.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <regex>
#include <set>

#include "support/path_security.h"
#include "support/protected_machine.h"
#include "windows/setup/load_setup.h"

namespace quarvel::testing {
namespace {

constexpr const char* kReady =
    R"({"version":1,"operation":"setup","state":"ready","code":"ready","message":"Windows command )"
    R"(protection is ready.","setup_version":2})";
constexpr const char* kProbeReady =
    R"({"version":1,"operation":"probe","state":"ready","code":"ready","message":"Windows command )"
    R"(protection is ready.","setup_version":2})";

constexpr const char* kOnlineAccount = "QuarvelSandboxOnline";
constexpr const char* kOfflineAccount = "QuarvelSandboxNoNet";
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

class SetupAndProbe : public ProtectedMachine {
  public:
    using ProtectedMachine::marker;
    std::filesystem::path state(const std::string& name = "") const {
        return name.empty() ? host(kStateDir) : host(std::string(kStateDir) + "\\" + name);
    }
    nlohmann::json accounts() const { return json_of(winsim::accounts_json()); }
    nlohmann::json user(const std::string& name) const {
        const auto store = accounts();
        for (const auto& user : store["users"])
            if (user["name"] == name)
                return user;
        return nullptr;
    }
    std::vector<std::string> members_of(const std::string& group) const {
        const auto store = accounts();
        for (const auto& entry : store["groups"])
            if (entry["name"] == group)
                return entry["members"].get<std::vector<std::string>>();
        return {};
    }
    nlohmann::json offline_rule() const {
        const auto rules = json_of(winsim::firewall_rules_json());
        for (const auto& rule : rules)
            if (rule["name"] == "quarvel_protected_commands_offline")
                return rule;
        return nullptr;
    }
    // Whom setup runs as: the machine's interactive administrator, as every program started from
    // a shell. Not this test process's token, which an earlier test in the process may have set.
    std::string current_user() const {
        return json_of(winsim::administrator_token_json(true))["user"];
    }
    std::string machine_sid() const { return accounts()["machine_sid"]; }
    std::string marker_member(const char* key) const { return json_of(marker())[key]; }

    ProcessOutcome setup_owned_by(const std::string& owner) const {
        return program({"setup", "--state-dir", kStateDir, "--status-file", kStatusFile,
                        "--owner-sid", owner});
    }
    // setup.json changed behind setup's back.
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

TEST_F(SetupAndProbe, SetupOnAFreshMachinePreparesEverythingAndProbeAgrees) {
    const auto outcome = setup();
    ASSERT_EQ(outcome.exit_code, 0) << outcome.standard_error;
    EXPECT_EQ(outcome.standard_output, std::string(kReady) + "\n");
    EXPECT_EQ(outcome.standard_error, "");
    EXPECT_EQ(status(), kReady);

    const std::string sid = R"(S-1-5-21-\d+-\d+-\d+-\d+)";
    EXPECT_TRUE(std::regex_match(
        marker(), std::regex(R"(\{"version":2,"group_sid":")" + sid + R"(","online_sid":")" + sid +
                             R"(","offline_sid":")" + sid + R"(","owner_sid":")" + sid +
                             R"(","created_at":[1-9]\d*\})")))
        << marker();
    const std::string secret = R"x(\{"username":"QuarvelSandbox(Online|NoNet)",)x"
                               R"("protected_password":"([0-9a-f][0-9a-f])+"\})";
    EXPECT_TRUE(std::regex_match(
        contents(state("credentials.json")),
        std::regex(R"(\{"version":2,"online":)" + secret + R"(,"offline":)" + secret + R"(\})")));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(state()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"credentials.json", "setup.json"}));

    const auto security = read_path_security(to_wide(kStateDir));
    const std::vector<AclEntry> expected = {{0, 3, 0x10000000, current_user()},
                                            {0, 3, 0x10000000, "S-1-5-32-544"},
                                            {0, 3, 0x10000000, "S-1-5-18"}};
    EXPECT_EQ(security.entries, expected);
    EXPECT_NE(security.control & 0x1000, 0) << "protected from the parent";

    const auto marker_json = json_of(marker());
    for (const char* name : {"QuarvelSandboxOnline", "QuarvelSandboxNoNet"}) {
        const auto account = user(name);
        ASSERT_FALSE(account.is_null()) << name;
        EXPECT_EQ(account["comment"], "Quarvel protected command account");
        EXPECT_EQ(account["flags"], 0x10241);
        const auto account_sid = account["sid"].get<std::string>();
        const auto protected_members = members_of("QuarvelSandboxUsers");
        EXPECT_EQ(std::count(protected_members.begin(), protected_members.end(), account_sid), 1);
        const auto users = members_of("Users");
        EXPECT_NE(std::find(users.begin(), users.end(), account_sid), users.end()) << name;
        EXPECT_TRUE(std::filesystem::is_directory(host(std::string("C:\\Users\\") + name)));
    }
    const auto rule = offline_rule();
    ASSERT_FALSE(rule.is_null());
    EXPECT_EQ(rule["enabled"], true);
    EXPECT_EQ(rule["direction"], 2);
    EXPECT_EQ(rule["action"], 0);
    EXPECT_EQ(rule["local_user_authorized_list"],
              "O:LSD:(A;;CC;;;" + marker_json["offline_sid"].get<std::string>() + ")");

    const auto probed = probe();
    EXPECT_EQ(probed.exit_code, 0) << probed.standard_error;
    EXPECT_EQ(probed.standard_output, std::string(kProbeReady) + "\n");
    const std::string first = status();
    EXPECT_EQ(probe().exit_code, 0);
    EXPECT_EQ(status(), first);
}

TEST_F(SetupAndProbe, SetupAgainRefreshesPasswordsAndFlagsAndKeepsTheComment) {
    prepare();
    const std::string first_marker = marker();
    const std::string first_secrets = contents(state("credentials.json"));
    // Someone changes an account's comment and flags between the two setups.
    auto store = accounts();
    for (auto& user : store["users"])
        if (user["name"] == "QuarvelSandboxOnline") {
            user["comment"] = "changed by an administrator";
            user["flags"] = 0x10041 | 0x0020;
        }
    std::ofstream(std::filesystem::path(machine_) / "accounts.json", std::ios::trunc)
        << store.dump();

    ASSERT_EQ(setup().exit_code, 0);
    const auto before = json_of(first_marker);
    const auto after = json_of(marker());
    for (const char* key : {"group_sid", "online_sid", "offline_sid", "owner_sid"})
        EXPECT_EQ(after[key], before[key]) << key;
    EXPECT_GE(after["created_at"].get<std::uint64_t>(), before["created_at"].get<std::uint64_t>());
    const auto old_secrets = json_of(first_secrets);
    const auto new_secrets = json_of(contents(state("credentials.json")));
    for (const char* account : {"online", "offline"})
        EXPECT_NE(new_secrets[account]["protected_password"],
                  old_secrets[account]["protected_password"]);
    EXPECT_EQ(user("QuarvelSandboxOnline")["comment"], "changed by an administrator");
    EXPECT_EQ(user("QuarvelSandboxOnline")["flags"], 0x10241);
    EXPECT_EQ(probe().exit_code, 0);
}

TEST_F(SetupAndProbe, RefusalsComeBeforeWhatTheyProtect) {
    // Not elevated: nothing exists afterwards, the state directory included.
    ProcessOptions filtered;
    filtered.environment[winsim::kTokenVariable] = winsim::administrator_token_json(false);
    auto outcome = setup(filtered);
    EXPECT_EQ(outcome.exit_code, 70);
    EXPECT_EQ(outcome.standard_error,
              error_line("administrator_required",
                         "Windows command protection setup requires administrator approval."));
    EXPECT_FALSE(std::filesystem::exists(state()));
    EXPECT_TRUE(user("QuarvelSandboxOnline").is_null());

    // A relative directory is refused before it is made.
    ProcessOptions in_work;
    in_work.working_directory = host("C:\\work").string();
    outcome =
        program({"setup", "--state-dir", "relative-state", "--status-file", kStatusFile}, in_work);
    EXPECT_EQ(outcome.exit_code, 64);
    EXPECT_EQ(
        outcome.standard_error,
        error_line("invalid_request", "Protection settings directory must be an absolute path."));
    EXPECT_FALSE(std::filesystem::exists(host("C:\\work\\relative-state")));

    // A junction or a symbolic link is refused once the creation step has passed over it.
    std::filesystem::create_directories(host("C:\\elsewhere"));
    std::filesystem::create_directories(host("C:\\ProgramData"));
    ASSERT_EQ(winsim::make_directory_junction(u"C:\\ProgramData\\Quarvel", u"C:\\elsewhere"), 0u);
    ASSERT_EQ(winsim::make_symbolic_link(u"C:\\work\\linked-state", u"C:\\elsewhere"), 0u);
    for (const char* link : {kStateDir, "C:\\work\\linked-state"}) {
        outcome = program({"setup", "--state-dir", link, "--status-file", kStatusFile});
        EXPECT_EQ(outcome.exit_code, 70) << link;
        EXPECT_EQ(outcome.standard_error,
                  error_line("reparse_path_rejected",
                             "Protection settings directory cannot be a symbolic link."));
    }
    EXPECT_TRUE(std::filesystem::is_empty(host("C:\\elsewhere")));
    EXPECT_TRUE(members_of("QuarvelSandboxUsers").empty());
    EXPECT_TRUE(user("QuarvelSandboxOnline").is_null());
}

TEST_F(SetupAndProbe, OwnerSidIsKeptAsTypedAndMustBeASid) {
    const std::string typed = "s-1-5-21-1-2-3-4242";
    auto outcome = program(
        {"setup", "--state-dir", kStateDir, "--status-file", kStatusFile, "--owner-sid", typed});
    ASSERT_EQ(outcome.exit_code, 0) << outcome.standard_error;
    EXPECT_EQ(json_of(marker())["owner_sid"], typed);
    EXPECT_EQ(read_path_security(to_wide(kStateDir)).entries.at(0).sid, "S-1-5-21-1-2-3-4242");

    std::filesystem::remove_all(machine_);
    machine_ = use_fresh_machine();
    outcome = program({"setup", "--state-dir", kStateDir, "--status-file", kStatusFile,
                       "--owner-sid", "not-a-sid"});
    EXPECT_EQ(outcome.exit_code, 70);
    EXPECT_EQ(
        outcome.standard_error,
        error_line("invalid_sid", "Could not parse security identifier. Windows error 1337."));
    EXPECT_FALSE(accounts()["groups"].dump().find("QuarvelSandboxUsers") == std::string::npos);
    EXPECT_TRUE(user("QuarvelSandboxOnline").is_null());
}

TEST_F(SetupAndProbe, SetupThatFailsAfterNewPasswordsLeavesTheOldFilesUntilItCompletes) {
    prepare();
    const std::string old_secrets = contents(state("credentials.json"));
    ProcessOptions faulty;
    faulty.environment["WINSIM_FAULTS"] = "setup/CryptProtectData:1:5";
    auto outcome = setup(faulty);
    EXPECT_EQ(outcome.exit_code, 70);
    EXPECT_EQ(outcome.standard_error,
              error_line("credential_protection_failed",
                         "Could not protect account credential. Windows error 5."));
    EXPECT_EQ(contents(state("credentials.json")), old_secrets);
    outcome = probe();
    EXPECT_EQ(outcome.exit_code, 70);
    EXPECT_EQ(outcome.standard_error,
              error_line("account_logon_failed",
                         "Could not sign in to protected command account. Windows error 1326."));
    EXPECT_EQ(setup().exit_code, 0);
    EXPECT_EQ(probe().exit_code, 0);
}

TEST_F(SetupAndProbe, EachOwnFailureOfSetupIsReportedWithItsCodeAndExitCode) {
    const struct {
        const char* faults;
        const char* code;
        const char* message;
        int exit_code;
    } rows[] = {
        {"setup/OpenProcessToken:1:5", "token_open_failed",
         "Could not open process identity. Windows error 5.", 70},
        {"setup/GetTokenInformation:1:5", "elevation_check_failed",
         "Could not verify setup authorization. Windows error 5.", 70},
        {"setup/CreateDirectoryW:1:5", "io_error",
         "Could not create protection settings directory: Access is denied. (os error 5)", 74},
        {"setup/CreateFileW:1:5", "io_error",
         "Could not inspect protection settings directory: Access is denied. (os error 5)", 74},
        {"setup/GetFileInformationByHandleEx:1:6", "io_error",
         "Could not inspect protection settings directory: The handle is invalid. (os error 6)",
         74},
        {"setup/GetFinalPathNameByHandleW:1:5", "io_error",
         "Could not inspect protection settings directory: Access is denied. (os error 5)", 74},
        {"setup/OpenProcessToken:2:5", "token_open_failed",
         "Could not open process identity. Windows error 5.", 70},
        {"setup/GetTokenInformation:2:5", "owner_lookup_failed",
         "Could not size current account information. Windows error 5.", 70},
        {"setup/GetTokenInformation:3:1784", "owner_lookup_failed",
         "Could not read current account information. Windows error 1784.", 70},
        {"setup/GetSystemTimeAsFileTime:1:0", "system_clock_failed",
         "second time provided was later than self", 70},
    };
    for (const auto& row : rows) {
        ProcessOptions faulty;
        faulty.environment["WINSIM_FAULTS"] = row.faults;
        const auto outcome = setup(faulty);
        EXPECT_EQ(outcome.exit_code, row.exit_code) << row.faults;
        EXPECT_EQ(outcome.standard_error, error_line(row.code, row.message)) << row.faults;
        const auto document = json_of(status());
        EXPECT_EQ(document["state"], "failed") << row.faults;
        EXPECT_EQ(document["code"], row.code) << row.faults;
        EXPECT_EQ(document["message"], row.message) << row.faults;
    }
}

// A link in cmd.exe's place counts as what it leads to: one that leads nowhere is no command.
TEST_F(SetupAndProbe, SystemCommandThatIsADanglingLinkIsUnavailable) {
    WCHAR directory[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryW(directory, MAX_PATH), 0u);  // installs cmd.exe on the machine
    const std::u16string command = std::u16string(directory) + u"\\cmd.exe";
    ASSERT_TRUE(DeleteFileW(command.c_str()));
    ASSERT_EQ(winsim::make_symbolic_link(command, std::u16string(directory) + u"\\gone.exe"), 0u);
    const auto outcome = setup();
    EXPECT_EQ(outcome.exit_code, 70);
    EXPECT_EQ(outcome.standard_error,
              error_line("system_command_unavailable", "Windows system command is unavailable."));
}

TEST_F(SetupAndProbe, ProbeWithoutSetupOrWithARelativeDirectory) {
    auto outcome = probe();
    EXPECT_EQ(outcome.exit_code, 78);
    EXPECT_EQ(outcome.standard_output, "");
    EXPECT_EQ(outcome.standard_error,
              error_line("setup_required", "Windows command protection has not been set up."));
    EXPECT_EQ(json_of(status())["state"], "setup_required");

    outcome = program({"probe", "--state-dir", "state", "--status-file", "C:\\new\\dir\\s.json"});
    EXPECT_EQ(outcome.exit_code, 64);
    EXPECT_EQ(json_of(contents(host("C:\\new\\dir\\s.json")))["state"], "failed");
}

// load_setup in this process, after a real setup and one change made outside it: each change
// stops loading with its own failure, and loading gives back everything it took.
TEST_F(SetupAndProbe, TamperingStopsLoadingWithItsOwnFailure) {
    const std::string refresh_rule = "Windows protection setup must refresh its network rule.";
    const std::string changed =
        "Windows command protection accounts have changed and setup must be refreshed.";
    const std::string unsafe = "Protected command account has unsafe group membership.";
    const std::string sign_in = "Could not sign in to protected command account. Windows error ";
    struct Row {
        const char* what;
        std::function<void(SetupAndProbe&)> tamper;
        const char* code;
        std::string message;  // the failure's message starts with this
    };
    const auto owner_change = [](const char* owner) {
        return [owner](SetupAndProbe& t) { t.set_marker_owner(owner); };
    };
    const auto rule_change = [](const char* json) {
        return [json](SetupAndProbe&) {
            winsim::change_firewall_rule("quarvel_protected_commands_offline", json);
        };
    };
    const Row rows[] = {
        {"password changed",
         [](SetupAndProbe&) {
             winsim::set_local_user_password("QuarvelSandboxOnline", "Other-password-1");
         },
         "account_logon_failed", sign_in + "1326."},
        {"disabled",
         [](SetupAndProbe&) { winsim::set_local_user_disabled("QuarvelSandboxNoNet", true); },
         "account_logon_failed", sign_in + "1331."},
        {"owner the accounts belong to", owner_change("S-1-5-32-545"),
         "account_verification_failed", unsafe},
        {"owner not a SID", owner_change("not-a-sid"), "invalid_sid",
         "Could not parse security identifier. Windows error 1337."},
        {"denied interactive sign-in",
         [](SetupAndProbe&) { winsim::deny_interactive_logon("QuarvelSandboxOnline"); },
         "account_logon_failed", sign_in + "1385."},
        {"in Administrators",
         [](SetupAndProbe& t) {
             winsim::add_local_group_member(
                 "Administrators", t.user("QuarvelSandboxOnline")["sid"].get<std::string>());
         },
         "account_verification_failed", unsafe},
        {"out of the group",
         [](SetupAndProbe& t) {
             winsim::remove_local_group_member(
                 "QuarvelSandboxUsers", t.user("QuarvelSandboxNoNet")["sid"].get<std::string>());
         },
         "account_verification_failed", unsafe},
        {"deleted and made again",
         [](SetupAndProbe&) {
             winsim::delete_local_user("QuarvelSandboxNoNet");
             winsim::ensure_local_user("QuarvelSandboxNoNet", "Other-password-1");
         },
         "setup_required", changed},
        {"deleted", [](SetupAndProbe&) { winsim::delete_local_user("QuarvelSandboxOnline"); },
         "account_lookup_failed",
         "Could not size account security identifier. Windows error 1332."},
        {"every lookup before any comparison",
         [](SetupAndProbe& t) {
             auto text = t.marker();
             const std::string key = "\"group_sid\":\"S-1-5-21-";
             text.replace(text.find(key), key.size(), "\"group_sid\":\"S-1-5-21-9");
             std::ofstream(t.state("setup.json"), std::ios::trunc) << text;
             winsim::delete_local_user("QuarvelSandboxNoNet");
         },
         "account_lookup_failed",
         "Could not size account security identifier. Windows error 1332."},
        {"rule removed",
         [](SetupAndProbe&) {
             winsim::remove_firewall_rules("quarvel_protected_commands_offline");
         },
         "setup_required", refresh_rule},
        {"rule disabled", rule_change(R"({"enabled":false})"), "setup_required", refresh_rule},
        {"rule allows", rule_change(R"({"action":1})"), "setup_required", refresh_rule},
        {"rule inbound", rule_change(R"({"direction":1})"), "setup_required", refresh_rule},
        {"rule names another SID",
         rule_change(R"x({"local_user_authorized_list":"O:LSD:(A;;CC;;;S-1-5-21-9-9-9-1001)"})x"),
         "setup_required", refresh_rule},
        {"marker in lower case",
         [](SetupAndProbe& t) {
             auto text = t.marker();
             for (const char* key : {"\"group_sid\":\"S", "\"online_sid\":\"S"})
                 text.replace(text.find(key), std::strlen(key),
                              std::string(key, std::strlen(key) - 1) + "s");
             std::ofstream(t.state("setup.json"), std::ios::trunc) << text;
         },
         nullptr, ""},
        {"offline SID in lower case: the rule test is exact",
         [](SetupAndProbe& t) {
             auto text = t.marker();
             const std::string key = "\"offline_sid\":\"S";
             text.replace(text.find(key), key.size(), "\"offline_sid\":\"s");
             std::ofstream(t.state("setup.json"), std::ios::trunc) << text;
         },
         "setup_required", refresh_rule},
        {"SID among other entries",
         [](SetupAndProbe& t) {
             const std::string sid = json_of(t.marker())["offline_sid"];
             winsim::change_firewall_rule(
                 "quarvel_protected_commands_offline",
                 R"x({"local_user_authorized_list":"O:LSD:(A;;CC;;;S-1-5-21-9-9-9-1001)(A;;CC;;;)x" +
                     sid + R"x()"})x");
         },
         nullptr, ""},
        {"setup.json not UTF-8",
         [](SetupAndProbe& t) {
             std::ofstream(t.state("setup.json"), std::ios::trunc) << "{\"version\":\"\xff\"}";
         },
         "setup_required", "Protection settings are invalid: "},
        {"old marker, missing secrets",
         [](SetupAndProbe& t) {
             auto text = t.marker();
             text.replace(text.find("\"version\":2"), 11, "\"version\":1");
             std::ofstream(t.state("setup.json"), std::ios::trunc) << text;
             std::filesystem::remove(t.state("credentials.json"));
         },
         "setup_required", "Windows command protection has not been set up."},
        {"secrets missing",
         [](SetupAndProbe& t) { std::filesystem::remove(t.state("credentials.json")); },
         "setup_required", "Windows command protection has not been set up."},
        {"secrets without the offline account",
         [](SetupAndProbe& t) {
             std::ofstream(t.state("credentials.json"), std::ios::trunc)
                 << R"({"version":2,"online":{"username":"QuarvelSandboxOnline",)"
                    R"("protected_password":"00"}})";
         },
         "setup_required", "Protection settings are invalid: "},
        {"secrets of another version",
         [](SetupAndProbe& t) {
             auto text = t.contents(t.state("credentials.json"));
             text.replace(text.find("\"version\":2"), 11, "\"version\":3");
             std::ofstream(t.state("credentials.json"), std::ios::trunc) << text;
         },
         "setup_required", "Windows command protection setup must be refreshed."},
        {"protected password not hexadecimal",
         [](SetupAndProbe& t) {
             auto text = t.contents(t.state("credentials.json"));
             const std::string key = "\"protected_password\":\"";
             text.replace(text.find(key) + key.size(), 2, "zz");
             std::ofstream(t.state("credentials.json"), std::ios::trunc) << text;
         },
         "setup_required", "Protected account credential is invalid."},
        {"old marker",
         [](SetupAndProbe& t) {
             auto text = t.marker();
             text.replace(text.find("\"version\":2"), 11, "\"version\":1");
             std::ofstream(t.state("setup.json"), std::ios::trunc) << text;
         },
         "setup_required", "Windows command protection setup must be refreshed."},
    };
    for (const auto& row : rows) {
        prepare();
        row.tamper(*this);
        const auto handles = winsim::open_handle_count();
        const auto allocations = winsim::outstanding_local_allocations();
        {
            const auto loaded = load_setup(to_wide(kStateDir));
            if (row.code == nullptr) {
                EXPECT_TRUE(loaded) << row.what << ": " << loaded.error().message;
            } else {
                ASSERT_FALSE(loaded) << row.what;
                EXPECT_EQ(loaded.error().code, row.code) << row.what;
                EXPECT_EQ(loaded.error().message.rfind(row.message, 0), 0u)
                    << row.what << ": " << loaded.error().message;
            }
        }
        EXPECT_EQ(winsim::open_handle_count(), handles) << row.what;
        EXPECT_EQ(winsim::outstanding_local_allocations(), allocations) << row.what;
        EXPECT_EQ(winsim::live_com_objects(), 0u) << row.what;
        EXPECT_EQ(winsim::outstanding_bstrs(), 0u) << row.what;
        EXPECT_EQ(winsim::com_initialization_depth(), 0u) << row.what;
        // The next row starts from a machine of its own.
        std::filesystem::remove_all(machine_);
        machine_ = use_fresh_machine();
        for (const char* folder : {"work"})
            std::filesystem::create_directories(host("C:\\") / folder);
    }
}

TEST_F(SetupAndProbe, OwnerThatIsNoUserAccountIsRefusedBeforeAnythingIsMade) {
    const std::vector<std::string> owners = {
        "BU", "WD", "AU", "<none group>", "S-1-5-5-0-65536", "S-1-5-19", "S-1-15-3-1024-1-2-3"};
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
        // No group, no account.
        EXPECT_EQ(winsim::accounts_json().find("QuarvelSandbox"), std::string::npos) << owner;
    }
}

TEST_F(SetupAndProbe, ProtectedGroupOrAccountAsOwnerIsRefusedAndChangesNothing) {
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

TEST_F(SetupAndProbe, OwnerInAnyFormWindowsReadsIsKeptAsTypedAndRuns) {
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
TEST_F(SetupAndProbe, ProtectedAccountThatHoldsTheOwnerFailsEveryLoad) {
    prepare();
    const std::string original = marker_member("owner_sid");
    const std::vector<std::string> owners = {"BU", machine_sid() + "-513",
                                             marker_member("group_sid"),
                                             marker_member("online_sid"), "S-1-16-8192"};
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

    for (const std::string& owner : {std::string("BA"), original}) {
        set_marker_owner(owner);
        const auto outcome = probe();
        EXPECT_EQ(outcome.exit_code, 0) << owner << ": " << outcome.standard_error;
    }
}

TEST_F(SetupAndProbe, SetupMakesDamagedAccountsWhatItCreatesAgain) {
    const std::string refused = "Could not sign in to protected command account. Windows error ";
    const struct {
        const char* what;
        std::function<void()> damage;
        std::string probe_error;  // "" when probe still finds the machine ready
    } rows[] = {
        {"disabled", [] { winsim::set_local_user_disabled(kOnlineAccount, true); },
         error_line("account_logon_failed", refused + "1331.")},
        {"locked out", [] { winsim::set_local_user_locked_out(kOfflineAccount, true); },
         error_line("account_logon_failed", refused + "1909.")},
        {"password may expire and be changed",
         [] { winsim::set_local_user_flags(kOnlineAccount, 0x0201); }, ""},
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
        for (const char* account : {kOnlineAccount, kOfflineAccount})
            EXPECT_EQ(user(account)["flags"], kCreatedFlags) << row.what << ", " << account;
        outcome = probe();
        EXPECT_EQ(outcome.exit_code, 0) << row.what << ": " << outcome.standard_error;
    }
}

}  // namespace
}  // namespace quarvel::testing
