// `probe` and `setup` seen from outside, in both lanes: probe's answers for a state directory
// that holds nothing or is not absolute, and setup ending either ready (simulated host) or with
// one of the program's own failures where Wine lacks what it needs: a complete failed status
// document, the same failure on standard error, exit code 70, nothing crashed.

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "support/e2e_directory.h"
#include "support/process_runner.h"

namespace quarvel::testing {
namespace {

class SetupProbe : public E2eDirectory {
  protected:
    SetupProbe() : E2eDirectory("setup", {"state"}) {}

    ProcessOutcome program(const std::vector<std::string>& arguments) const {
        auto command = program_under_test();
        command.insert(command.end(), arguments.begin(), arguments.end());
        ProcessOptions options;
        options.environment["WINSIM_MACHINE"] = (dir_ / "machine").string();
        options.working_directory = dir_.string();
        return run_process(command, options);
    }

};

TEST_F(SetupProbe, ProbeOfAnEmptyStateDirectoryAsksForSetup) {
    const auto outcome = program(
        {"probe", "--state-dir", windows("state"), "--status-file", windows("out/status.json")});
    EXPECT_EQ(outcome.exit_code, 78);
    EXPECT_EQ(outcome.standard_output, "");
    EXPECT_EQ(outcome.standard_error,
              "{\"code\":\"setup_required\",\"message\":\"Windows command protection has not been "
              "set up.\"}\n");
    EXPECT_EQ(contents("out/status.json"),
              R"({"version":1,"operation":"probe","state":"setup_required","code":"setup_required",)"
              R"("message":"Windows command protection has not been set up.","setup_version":2})");
}

TEST_F(SetupProbe, ProbeOfARelativeStateDirectoryIsAnInvalidRequest) {
    const auto outcome =
        program({"probe", "--state-dir", "state", "--status-file", windows("status.json")});
    const std::string message = "Protection settings directory must be an absolute path.";
    EXPECT_EQ(outcome.exit_code, 64);
    EXPECT_EQ(outcome.standard_error,
              "{\"code\":\"invalid_request\",\"message\":\"" + message + "\"}\n");
    EXPECT_EQ(contents("status.json"),
              R"({"version":1,"operation":"probe","state":"failed","code":"invalid_request",)"
              R"("message":")" + message + R"(","setup_version":2})");
}

// Well-formed files on a machine without the accounts: loading reads and checks both files and
// stops at the first account lookup, in both lanes.
TEST_F(SetupProbe, ProbeOfWellFormedFilesStopsAtTheFirstAccountLookup) {
    std::ofstream(dir_ / "state" / "setup.json")
        << R"({"version":2,"group_sid":"S-1-5-21-1-2-3-1001","online_sid":"S-1-5-21-1-2-3-1002",)"
        << R"("offline_sid":"S-1-5-21-1-2-3-1003","owner_sid":"S-1-5-32-544","created_at":1})";
    std::ofstream(dir_ / "state" / "credentials.json")
        << R"({"version":2,"online":{"username":"QuarvelSandboxOnline","protected_password":"00"},)"
        << R"("offline":{"username":"QuarvelSandboxNoNet","protected_password":"00"}})";
    const auto outcome =
        program({"probe", "--state-dir", windows("state"), "--status-file", windows("status.json")});
    EXPECT_EQ(outcome.exit_code, 70);
    EXPECT_EQ(outcome.standard_error,
              "{\"code\":\"account_lookup_failed\",\"message\":\"Could not size account security "
              "identifier. Windows error 1332.\"}\n");

    // A version other than 2 is found before any lookup.
    std::ofstream(dir_ / "state" / "setup.json", std::ios::trunc)
        << R"({"version":1,"group_sid":"","online_sid":"","offline_sid":"","owner_sid":"",)"
        << R"("created_at":1})";
    EXPECT_EQ(program({"probe", "--state-dir", windows("state"), "--status-file",
                       windows("status.json")})
                  .exit_code,
              78);
}

// An owner whose form alone says it is no user account is refused before the state directory or
// anything else is made, in both lanes.
TEST_F(SetupProbe, SetupRefusesAGroupOrWellKnownOwnerBeforeItMakesAnything) {
    const std::string message = "Owner SID must name a user account.";
    for (const char* owner : {"S-1-5-32-545", "BU", "S-1-1-0", "S-1-5-5-0-1234", "S-1-15-3-1"}) {
        const auto outcome =
            program({"setup", "--state-dir", windows("state/quarvel"), "--status-file",
                     windows("status.json"), "--owner-sid", owner});
        EXPECT_EQ(outcome.exit_code, 64) << owner;
        EXPECT_EQ(outcome.standard_output, "") << owner;
        EXPECT_EQ(outcome.standard_error,
                  "{\"code\":\"invalid_request\",\"message\":\"" + message + "\"}\n")
            << owner;
        EXPECT_EQ(contents("status.json"),
                  R"({"version":1,"operation":"setup","state":"failed","code":"invalid_request",)"
                  R"("message":")" +
                      message + R"(","setup_version":2})")
            << owner;
        EXPECT_FALSE(std::filesystem::exists(dir_ / "state" / "quarvel")) << owner;
    }
}

TEST_F(SetupProbe, SetupEndsReadyOrWithOneOfItsOwnFailures) {
    const auto outcome = program({"setup", "--state-dir", windows("state/quarvel"),
                                  "--status-file", windows("status.json")});
    const std::string document = contents("status.json");
    if (lane() == "host") {
        EXPECT_EQ(outcome.exit_code, 0) << outcome.standard_error;
        EXPECT_EQ(outcome.standard_output, document + "\n");
        EXPECT_NE(document.find("\"state\":\"ready\""), std::string::npos) << document;
        return;
    }
    // Under Wine setup stops where Wine's calls stop (Wine 8 knows no local groups: the group's
    // lookup, `account_lookup_failed`); that is printed, not asserted. What is asserted holds
    // wherever it stops: one of the program's own failures, reported whole.
    std::printf("setup under Wine: %s\n", document.c_str());
    EXPECT_EQ(outcome.exit_code, 70);
    EXPECT_EQ(outcome.standard_output, "");
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(
        document, parts,
        std::regex(R"x(\{"version":1,"operation":"setup","state":"failed","code":"([a-z_]+)",)x"
                   R"x("message":"([^"]+)","setup_version":2\})x")))
        << document;
    EXPECT_EQ(outcome.standard_error, "{\"code\":\"" + parts[1].str() + "\",\"message\":\"" +
                                          parts[2].str() + "\"}\n");
}

}  // namespace
}  // namespace quarvel::testing
