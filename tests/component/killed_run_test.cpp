// Runs whose runner is killed: what they leave (their record, the capability SID's entries, the
// command's temporary directory) and how the next run or setup takes it back, at every point at
// which a run holds grants, next to runs that are still alive.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <winsim/testing.h>

#include <signal.h>

#include <chrono>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/path_security.h"
#include "support/protected_machine.h"
#include "support/started_runner.h"
#include "windows/security/path_access.h"
#include "windows/security/sid_conversion.h"

namespace quarvel::testing {
namespace {

using namespace std::chrono_literals;

class KilledRun : public ProtectedMachine {
  protected:
    void SetUp() override {
        ProtectedMachine::SetUp();
        prepare();
        call_log_ = machine_ + "/calls.log";
        group_ = nlohmann::json::parse(marker())["group_sid"];
    }

    std::filesystem::path records() const { return host(std::string(kStateDir) + "\\runs"); }

    // The capability SIDs of the records in the state directory.
    std::set<std::string> recorded_runs() const {
        std::set<std::string> found;
        if (!std::filesystem::exists(records()))
            return found;
        for (const auto& entry : std::filesystem::directory_iterator(records()))
            found.insert(entry.path().stem().string());
        return found;
    }

    // Every explicit entry of `sid` on `windows_path`.
    static std::size_t entries_of(const std::string& windows_path, const std::string& sid) {
        return entries_for(read_path_security(to_wide(windows_path)).entries, sid).size();
    }

    bool call_logged(const std::string& line) const {
        std::ifstream log(call_log_);
        for (std::string logged; std::getline(log, logged);)
            if (logged == line)
                return true;
        return false;
    }

    template <class Condition>
    static bool wait_until(Condition condition) {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    void kill_and_reap(pid_t runner) const {
        ::kill(runner, SIGKILL);
        exit_status_of(runner);
        EXPECT_TRUE(wait_until([&] { return machine_processes(machine_).empty(); }));
    }

    std::string call_log_;
    std::string group_;
};

constexpr const char* kWorkspace =
    R"(,"writable_roots":["C:\\work\\out"],"readable_roots":["C:\\work\\tools"])";

// The runner dies at each point at which it holds grants. The access-list writes of a run, in
// order: 1 the readable root for the group, 2 and 3 cwd for the group and the capability SID,
// 4 and 5 the writable root, 6 the runtime directory, 7 the temporary directory, 8 and 9 the
// capability SID's revokes.
TEST_F(KilledRun, WhatAKilledRunLeftIsTakenBackByTheNextRunOrSetup) {
    const std::vector<std::string> waits = {"wait-for", "C:\\never", "0"};
    const std::vector<std::string> ends = {"streams", "", "", "0"};
    const struct {
        const char* when;
        const char* pause;  // empty: killed while the command runs
        const std::vector<std::string>& command;
        bool next_is_setup;
    } rows[] = {
        {"after the first grant", "run/SetNamedSecurityInfoW:4:0:pause", waits, false},
        {"after all grants", "run/CreateNamedPipeW:1:0:pause", waits, false},
        {"while the command runs", "", waits, true},
        {"during the release", "run/SetNamedSecurityInfoW:9:0:pause", ends, false},
        {"after the first grant", "run/SetNamedSecurityInfoW:4:0:pause", waits, true},
    };
    write_policy(kWorkspace);
    for (const auto& row : rows) {
        const std::string what = std::string(row.when) + (row.next_is_setup ? ", then setup" : "");
        std::filesystem::remove(call_log_);
        std::map<std::string, std::string> environment{{"WINSIM_CALL_LOG", call_log_}};
        if (*row.pause != '\0')
            environment["WINSIM_FAULTS"] = row.pause;
        const pid_t runner =
            start_runner(run_arguments(row.command), -1, STDOUT_FILENO, environment);
        const std::string pause = row.pause;
        const std::string function = pause.empty() ? "" : pause.substr(4, pause.find(':') - 4);
        ASSERT_TRUE(wait_until([&] {
            return *row.pause == '\0' ? status().find("\"running\"") != std::string::npos
                                      : call_logged("run " + function + " paused");
        })) << what;
        const auto killed = recorded_runs();
        ASSERT_EQ(killed.size(), 1u) << what;
        const std::string capability = *killed.begin();
        EXPECT_GE(
            entries_of("C:\\work\\project", capability) + entries_of("C:\\work\\out", capability),
            1u)
            << what;  // it holds grants
        kill_and_reap(runner);

        const auto next = row.next_is_setup ? setup() : run({"streams", "", "", "0"});
        EXPECT_EQ(next.exit_code, 0) << what << ": " << next.standard_error;
        for (const char* path : {"C:\\work\\project", "C:\\work\\out", "C:\\work\\tools"})
            EXPECT_EQ(entries_of(path, capability), 0u) << what << ": " << path;
        EXPECT_TRUE(recorded_runs().empty()) << what;
        EXPECT_TRUE(std::filesystem::is_empty(host("C:\\work\\runtime"))) << what;
    }
}

// Recovery goes through a record's locations without following links: a location that was
// deleted is passed over, one replaced by a junction is not followed to the junction's target.
TEST_F(KilledRun, RecoveryPassesOverLocationsThatAreGoneOrLinked) {
    const std::string capability = "S-1-5-21-11-22-33-44";
    auto sid = sid_from_string(capability);
    ASSERT_TRUE(sid);
    for (const char* folder : {"kept", "target", "swapped", "gone"})
        std::filesystem::create_directories(host(std::string("C:\\work\\") + folder));
    for (const char* path : {"C:\\work\\kept", "C:\\work\\target"})
        ASSERT_TRUE(set_path_access(to_wide(path), sid->get(), kModifyAccess, GRANT_ACCESS));
    std::filesystem::remove(host("C:\\work\\swapped"));
    std::filesystem::remove(host("C:\\work\\gone"));
    ASSERT_EQ(winsim::make_directory_junction(u"C:\\work\\swapped", u"C:\\work\\target"), 0u);
    std::filesystem::create_directories(records());
    std::ofstream(records() / (capability + ".json"))
        << R"({"version":1,"capability_sid":")" << capability << "\"}\n"
        << R"({"path":"\\\\?\\C:\\work\\gone"})"
        << "\n"
        << R"({"path":"\\\\?\\C:\\work\\swapped"})"
        << "\n"
        << R"({"path":"\\\\?\\C:\\work\\kept"})"
        << "\n"
        << R"({"path":"\\\\?\\C:\\work\\cut-)";  // a line the killed run never finished

    write_policy();
    ProcessOptions traced;
    traced.environment["QUARVEL_NATIVE_TRACE"] = "1";
    const auto outcome = run({"streams", "", "", "0"}, traced);
    EXPECT_EQ(outcome.exit_code, 0) << outcome.standard_error;
    EXPECT_NE(outcome.standard_error.find(
                  "Quarvel native trace: grant_recovery_finished_1_recovered_0_kept\n"),
              std::string::npos)
        << outcome.standard_error;
    EXPECT_EQ(entries_of("C:\\work\\kept", capability), 0u);
    EXPECT_EQ(entries_of("C:\\work\\target", capability), 1u);
    EXPECT_TRUE(recorded_runs().empty());
}

// A record that cannot be taken back now (a location whose list cannot be written, a record that
// cannot be read) stays for the next attempt; the run that finds it goes on all the same.
TEST_F(KilledRun, RecordThatCannotBeTakenBackNowStaysAndTheRunGoesOn) {
    std::filesystem::create_directories(records());
    const std::string unreadable = "S-1-5-21-1-1-1-1";
    std::ofstream(records() / (unreadable + ".json")) << "{\"version\":9}\n";
    const std::string stuck = "S-1-5-21-2-2-2-2";
    std::ofstream(records() / (stuck + ".json"))
        << R"({"version":1,"capability_sid":")" << stuck << "\"}\n"
        << R"({"path":"\\\\?\\C:\\work\\out"})"
        << "\n";
    auto sid = sid_from_string(stuck);
    ASSERT_TRUE(set_path_access(to_wide("C:\\work\\out"), sid->get(), kModifyAccess, GRANT_ACCESS));

    write_policy();
    ProcessOptions faulty;
    faulty.environment["QUARVEL_NATIVE_TRACE"] = "1";
    // The first access-list write of the run is the recovery's revoke on C:\work\out.
    faulty.environment["WINSIM_FAULTS"] = "run/SetNamedSecurityInfoW:1:5";
    const auto outcome = run({"streams", "", "", "0"}, faulty);
    EXPECT_EQ(outcome.exit_code, 0) << outcome.standard_error;
    EXPECT_NE(outcome.standard_error.find(
                  "Quarvel native trace: grant_recovery_finished_0_recovered_2_kept\n"),
              std::string::npos)
        << outcome.standard_error;
    EXPECT_EQ(recorded_runs(), (std::set<std::string>{unreadable, stuck}));
    EXPECT_EQ(entries_of("C:\\work\\out", stuck), 1u);

    // Without the fault the next setup takes the rest back; the unreadable record stays.
    EXPECT_EQ(setup().exit_code, 0);
    EXPECT_EQ(entries_of("C:\\work\\out", stuck), 0u);
    EXPECT_EQ(recorded_runs(), (std::set<std::string>{unreadable}));
}

// Eight runs share a writable root; three are killed while the others wait, and a ninth run
// recovers what the killed ones left in the middle of it all. No living run loses its own
// entries: each still writes where its policy lets it. At the end nothing is left.
TEST_F(KilledRun, LivingRunsKeepTheirGrantsWhileKilledOnesAreRecovered) {
    std::filesystem::create_directories(host("C:\\work\\shared"));
    std::vector<pid_t> runners;
    for (int k = 0; k < 8; ++k) {
        const std::string cwd = "C:\\\\work\\\\p" + std::to_string(k);
        std::filesystem::create_directories(host("C:\\work\\p" + std::to_string(k)));
        const std::string policy = "C:\\work\\policy" + std::to_string(k) + ".json";
        std::ofstream(host(policy))
            << R"({"cwd":")" << cwd << R"(","runtime_dir":"C:\\work\\runtime)" << k
            << R"(","writable_roots":["C:\\work\\shared"],"status_file":"C:\\work\\status)" << k
            << R"(.json"})";
        std::filesystem::create_directories(host("C:\\work\\runtime" + std::to_string(k)));
        auto arguments = run_arguments({"wait-files", "C:\\work\\go",
                                        "create:C:\\work\\shared\\" + std::to_string(k) + ".txt",
                                        "create:C:\\work\\p" + std::to_string(k) + "\\own.txt"});
        arguments[5] = policy;
        runners.push_back(start_runner(arguments, -1));
    }
    const auto running = [&](int k) {
        return contents(host("C:\\work\\status" + std::to_string(k) + ".json"))
                   .find("\"running\"") != std::string::npos;
    };
    ASSERT_TRUE(wait_until([&] {
        for (int k = 0; k < 8; ++k)
            if (!running(k))
                return false;
        return true;
    })) << contents(host("C:\\work\\status0.json"));
    ASSERT_EQ(recorded_runs().size(), 8u);
    for (int k : {1, 4, 6}) {
        ::kill(runners[k], SIGKILL);
        exit_status_of(runners[k]);
    }
    write_policy();
    EXPECT_EQ(run({"streams", "", "", "0"}).exit_code, 0);
    EXPECT_EQ(recorded_runs().size(), 5u);  // the living ones

    std::ofstream(host("C:\\work\\go")) << "go";
    for (int k : {0, 2, 3, 5, 7}) {
        EXPECT_EQ(exit_status_of(runners[k]), 0) << k;
        EXPECT_TRUE(
            std::filesystem::exists(host("C:\\work\\shared\\" + std::to_string(k) + ".txt")))
            << k;
        EXPECT_TRUE(std::filesystem::exists(host("C:\\work\\p" + std::to_string(k) + "\\own.txt")))
            << k;
    }
    EXPECT_TRUE(wait_until([&] { return machine_processes(machine_).empty(); }));
    EXPECT_TRUE(recorded_runs().empty());
    for (const auto& entry : read_path_security(to_wide("C:\\work\\shared")).entries)
        EXPECT_TRUE((entry.flags & INHERITED_ACE) != 0 || entry.sid == group_) << entry.sid;
}

}  // namespace
}  // namespace quarvel::testing
