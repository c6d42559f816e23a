// `run` from end to end on a machine prepared by the program's own setup: the command's output,
// exit code and status, the trace, the location checks, confinement through the simulated file
// calls, and what is left behind (access entries, processes) after runs that succeed, fail, or
// are cut short.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

#include "support/path_security.h"
#include "support/protected_machine.h"
#include "support/started_runner.h"
#include "support/text_lines.h"

namespace quarvel::testing {
namespace {

using namespace std::chrono_literals;

std::string json_member(const std::string& document, const std::string& key) {
    const std::regex member("\"" + key + "\":\"?([^\",}]*)");
    std::smatch found;
    return std::regex_search(document, found, member) ? found[1].str() : "";
}

std::string error_line(const std::string& code, const std::string& message) {
    return R"({"code":")" + code + R"(","message":")" + message + "\"}\n";
}

std::string failed_document(const std::string& code, const std::string& message) {
    const std::string state = code == "setup_required" ? code : "failed";
    return R"({"version":1,"operation":"run","state":")" + state + R"(","code":")" + code +
           R"(","message":")" + message + R"(","setup_version":2})";
}

class ProtectedRun : public ProtectedMachine {
  protected:
    void SetUp() override {
        ProtectedMachine::SetUp();
        prepare();
        group_ = json_member(marker(), "group_sid");
        online_ = json_member(marker(), "online_sid");
        offline_ = json_member(marker(), "offline_sid");
    }

    // The explicit entries on a workspace path that belong to SIDs the machine did not give it
    // before any run: what a run may leave behind is the group's entry alone.
    std::vector<AclEntry> explicit_entries(const std::string& windows_path) const {
        std::vector<AclEntry> found;
        for (const auto& entry : read_path_security(to_wide(windows_path)).entries)
            if ((entry.flags & INHERITED_ACE) == 0)
                found.push_back(entry);
        return found;
    }

    void expect_only_group_entries(const std::string& windows_path, DWORD mask) const {
        const auto entries = explicit_entries(windows_path);
        ASSERT_EQ(entries.size(), 1u) << windows_path;
        EXPECT_EQ(entries[0].sid, group_) << windows_path;
        EXPECT_EQ(entries[0].mask, mask) << windows_path;
    }

    // What any run may leave: nothing, or the group's entry once.
    void expect_no_capability_entries(const std::string& windows_path) const {
        const auto entries = explicit_entries(windows_path);
        EXPECT_LE(entries.size(), 1u) << windows_path;
        for (const auto& entry : entries)
            EXPECT_EQ(entry.sid, group_) << windows_path;
    }

    void expect_nothing_left_running() const {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!machine_processes(machine_).empty() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        EXPECT_TRUE(machine_processes(machine_).empty());
    }

    std::string group_, online_, offline_;
};

TEST_F(ProtectedRun, CommandOutputAndExitCodeBecomeTheRunsOwn) {
    write_policy();
    const auto outcome = run({"streams", "to standard output", "to standard error", "3"});
    EXPECT_EQ(outcome.exit_code, 3);
    EXPECT_EQ(outcome.standard_output, "to standard output");
    EXPECT_EQ(outcome.standard_error, "to standard error");
    EXPECT_EQ(status(),
              R"({"version":1,"operation":"run","state":"completed","code":"completed",)"
              R"("message":"Protected command completed.","setup_version":2,"exit_code":3})");
    expect_only_group_entries("C:\\work\\project", 0x001301BF);
    expect_nothing_left_running();
}

TEST_F(ProtectedRun, NetworkSettingChoosesTheAccount) {
    write_policy();
    EXPECT_EQ(run({"whoami"}).standard_output, online_);
    write_policy(R"(,"network":"disabled")");
    EXPECT_EQ(run({"whoami"}).standard_output, offline_);
    EXPECT_NE(online_, offline_);
}

TEST_F(ProtectedRun, StatusSaysRunningWithTheCommandsProcessIdUntilItCompletes) {
    write_policy();
    ProcessOutcome outcome;
    std::thread runner([&] { outcome = run({"wait-for", "C:\\work\\project\\go", "7"}); });
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    std::string running;
    while (std::chrono::steady_clock::now() < deadline) {
        running = status();
        if (running.find("\"running\"") != std::string::npos)
            break;
        std::this_thread::sleep_for(10ms);
    }
    std::ofstream(host("C:\\work\\project\\go")) << "go";
    runner.join();
    EXPECT_TRUE(std::regex_match(
        running, std::regex(R"(\{"version":1,"operation":"run","state":"running","code":"running",)"
                            R"("message":"Command protection is active.","setup_version":2,)"
                            R"("process_id":[1-9][0-9]*\})")))
        << running;
    EXPECT_EQ(outcome.exit_code, 7);
    EXPECT_EQ(json_member(status(), "state"), "completed");
}

TEST_F(ProtectedRun, TraceLinesFollowTheStagesInOrder) {
    write_policy();
    ProcessOptions traced;
    traced.environment["QUARVEL_NATIVE_TRACE"] = "1";
    const auto outcome = run({"streams", "out", "", "3"}, traced);
    std::vector<std::string> expected;
    for (const char* stage : {"runtime_validation_started",
                              "runtime_validation_ready",
                              "workspace_access_started",
                              "grant_recovery_started",
                              "grant_recovery_finished_0_recovered_0_kept",
                              "workspace_access_ready",
                              "runtime_access_ready",
                              "worker_launch_started",
                              "worker_launched",
                              "worker_connected",
                              "request_sent",
                              "worker_request_received",
                              "worker_request_validated",
                              "worker_identity_verified",
                              "worker_restricted_token_ready",
                              "worker_private_desktop_ready",
                              "worker_stdio_ready",
                              "worker_command_created",
                              "worker_command_job_assigned",
                              "worker_command_resumed",
                              "command_started",
                              "command_exited_3",
                              "terminal_frame_received",
                              "worker_stopped",
                              "workspace_access_released"})
        expected.push_back(std::string("Quarvel native trace: ") + stage);
    EXPECT_EQ(lines_of(outcome.standard_error), expected);
    EXPECT_EQ(outcome.standard_output, "out");
    EXPECT_EQ(outcome.exit_code, 3);

    for (const char* off : {"11", "true", " 1", ""}) {
        ProcessOptions quiet;
        quiet.environment["QUARVEL_NATIVE_TRACE"] = off;
        EXPECT_EQ(run({"streams", "", "", "0"}, quiet).standard_error, "") << off;
    }
}

TEST_F(ProtectedRun, RunThatFailsAtTheConnectionTracesOnlyTheStagesBefore) {
    write_policy();
    ProcessOptions options;
    options.environment["QUARVEL_NATIVE_TRACE"] = "1";
    // The worker cannot open the pipe: it ends without connecting.
    options.environment["WINSIM_FAULTS"] = "__worker/CreateFileW:1:5";
    const auto outcome = run({"streams", "", "", "0"}, options);
    auto lines = lines_of(outcome.standard_error);
    ASSERT_EQ(lines.size(), 10u) << outcome.standard_error;
    EXPECT_EQ(lines[8], "Quarvel native trace: worker_launched");
    EXPECT_EQ(lines[9] + "\n", error_line("worker_start_failed",
                                          "Protected command worker exited before connecting."));
    EXPECT_EQ(outcome.exit_code, 70);
    expect_only_group_entries("C:\\work\\project", 0x001301BF);
    expect_nothing_left_running();
}

TEST_F(ProtectedRun, LocationChecksRefuseBeforeAnyAccessListChanges) {
    std::ofstream(host("C:\\work\\a-file")) << "not a directory";
    const struct {
        const char* cwd;
        const char* runtime_dir;
        const char* roots;
        const char* message;
    } rows[] = {
        {"missing", "runtime", "", "Policy cwd must be an existing directory."},
        {"a-file", "runtime", "", "Policy cwd must be an existing directory."},
        {"project", "missing", "", "Policy runtime_dir must be an existing directory."},
        {"project", "runtime",
         R"(,"writable_roots":["C:\\work\\out","C:\\work\\gone"],)"
         R"("readable_roots":["C:\\x"])",
         "Writable location does not exist: C:\\\\work\\\\gone."},
        {"project", "runtime",
         R"(,"writable_roots":["C:\\work\\a-file"],)"
         R"("readable_roots":["C:\\work\\tools","C:\\no"])",
         "Readable location does not exist: C:\\\\no."},
    };
    const auto before = read_path_security(to_wide("C:\\work\\out"));
    for (const auto& row : rows) {
        std::ofstream(host("C:\\work\\policy.json"))
            << R"({"cwd":"C:\\work\\)" << row.cwd << R"(","runtime_dir":"C:\\work\\)"
            << row.runtime_dir << R"(","status_file":"C:\\work\\status.json")" << row.roots << "}";
        const auto outcome = run({"streams", "", "", "0"});
        EXPECT_EQ(outcome.exit_code, 64) << row.message;
        EXPECT_EQ(outcome.standard_error, error_line("invalid_request", row.message));
        EXPECT_EQ(status(), failed_document("invalid_request", row.message));
        EXPECT_EQ(read_path_security(to_wide("C:\\work\\out")), before) << row.message;
        EXPECT_TRUE(explicit_entries("C:\\work\\project").empty()) << row.message;
    }
}

// The runtime directory's list replaces what it had and lets the command only read: on, inside
// or above a workspace location it would take the user's own list away for good. And a location
// that is a link counts as what it leads to: a dangling one does not exist. Both are refused
// before any access list changes.
TEST_F(ProtectedRun, RuntimeApartFromTheWorkspaceAndLinksThatLeadNowhereAreRefused) {
    std::filesystem::create_directories(host("C:\\work\\project\\inside"));
    ASSERT_EQ(winsim::make_directory_junction(u"C:\\work\\dangling", u"C:\\work\\gone"), 0u);
    ASSERT_EQ(winsim::make_symbolic_link(u"C:\\work\\dangling-link", u"C:\\work\\gone"), 0u);
    const std::string separate = "Policy runtime_dir must be separate from the workspace.";
    const struct {
        const char* members;  // after "status_file"
        std::string message;
    } rows[] = {
        {R"(,"cwd":"C:\\work\\project","runtime_dir":"C:\\work\\project")", separate},
        {R"(,"cwd":"C:\\work\\project","runtime_dir":"c:\\WORK\\Project\\")", separate},
        {R"(,"cwd":"C:\\work\\project","runtime_dir":"C:\\work\\project\\inside")", separate},
        {R"(,"cwd":"C:\\work\\project","runtime_dir":"C:\\work")", separate},
        {R"(,"cwd":"C:\\work\\project","runtime_dir":"C:\\work\\tools",)"
         R"("readable_roots":["C:\\work\\tools"])",
         separate},
        {R"(,"cwd":"C:\\work\\project","runtime_dir":"C:\\",)"
         R"("writable_roots":["C:\\work\\out"])",
         separate},
        {R"(,"cwd":"C:\\work\\dangling","runtime_dir":"C:\\work\\runtime")",
         "Policy cwd must be an existing directory."},
        {R"(,"cwd":"C:\\work\\project","runtime_dir":"C:\\work\\dangling-link")",
         "Policy runtime_dir must be an existing directory."},
        {R"(,"cwd":"C:\\work\\project","runtime_dir":"C:\\work\\runtime",)"
         R"("writable_roots":["C:\\work\\dangling"])",
         "Writable location does not exist: C:\\\\work\\\\dangling."},
        {R"(,"cwd":"C:\\work\\project","runtime_dir":"C:\\work\\runtime",)"
         R"("readable_roots":["C:\\work\\dangling-link"])",
         "Readable location does not exist: C:\\\\work\\\\dangling-link."},
    };
    std::map<std::string, PathSecurity> before;
    for (const char* path : {"C:\\", "C:\\work", "C:\\work\\project", "C:\\work\\project\\inside",
                             "C:\\work\\tools", "C:\\work\\out", "C:\\work\\runtime"})
        before[path] = read_path_security(to_wide(path));
    for (const auto& row : rows) {
        std::ofstream(host("C:\\work\\policy.json"), std::ios::trunc)
            << R"({"status_file":"C:\\work\\status.json")" << row.members << "}";
        const auto outcome = run({"streams", "", "", "0"});
        EXPECT_EQ(outcome.exit_code, 64) << row.members;
        EXPECT_EQ(outcome.standard_error, error_line("invalid_request", row.message))
            << row.members;
        EXPECT_EQ(status(), failed_document("invalid_request", row.message)) << row.members;
        for (const auto& [path, security] : before)
            EXPECT_EQ(read_path_security(to_wide(path)), security) << path << " " << row.members;
    }
}

// A status file that is not absolute names no place the host chose: nothing is published, not
// beside the runner's current directory nor at the root of its drive.
TEST_F(ProtectedRun, StatusFileThatIsNotAbsoluteGetsNothing) {
    std::filesystem::create_directories(host("C:\\work\\here"));
    ProcessOptions options;
    options.working_directory = host("C:\\work\\here").string();
    for (const char* status_file : {"status.json", "\\\\rooted-status.json"}) {
        std::ofstream(host("C:\\work\\policy.json"), std::ios::trunc)
            << R"({"cwd":"C:\\work\\project","runtime_dir":"C:\\work\\runtime","status_file":")"
            << status_file << R"("})";
        const auto outcome = run({"streams", "", "", "0"}, options);
        EXPECT_EQ(outcome.exit_code, 64) << status_file;
        EXPECT_EQ(
            outcome.standard_error,
            error_line("invalid_request", "Policy field status_file must be an absolute path."));
    }
    EXPECT_FALSE(std::filesystem::exists(host("C:\\work\\here\\status.json")));
    EXPECT_FALSE(std::filesystem::exists(host("C:\\rooted-status.json")));
}

TEST_F(ProtectedRun, MissingOrStaleSetupIsTheLoadersFailure) {
    write_policy();
    const auto marker_path = host(std::string(kStateDir) + "\\setup.json");
    std::string stale = marker();
    stale.replace(stale.find("\"version\":2"), 11, "\"version\":1");
    std::ofstream(marker_path, std::ios::trunc) << stale;
    const std::string refresh = "Windows command protection setup must be refreshed.";
    EXPECT_EQ(run({"streams", "", "", "0"}).standard_error, error_line("setup_required", refresh));
    EXPECT_EQ(status(), failed_document("setup_required", refresh));

    std::filesystem::remove(host(std::string(kStateDir) + "\\credentials.json"));
    auto outcome = run({"streams", "", "", "0"});
    const std::string missing = "Windows command protection has not been set up.";
    EXPECT_EQ(outcome.exit_code, 78);
    EXPECT_EQ(outcome.standard_error, error_line("setup_required", missing));
    EXPECT_EQ(status(), failed_document("setup_required", missing));
    EXPECT_TRUE(explicit_entries("C:\\work\\project").empty());
}

TEST_F(ProtectedRun, ProgramThatDoesNotExistFailsAndTakesAccessBack) {
    write_policy(R"(,"writable_roots":["C:\\work\\out"])");
    const auto outcome = program({"run", "--state-dir", kStateDir, "--policy",
                                  "C:\\work\\policy.json", "--", "C:\\work\\no-such-program.exe"});
    const std::string message = "Could not create suspended protected command. Windows error 2.";
    EXPECT_EQ(outcome.exit_code, 70);
    EXPECT_EQ(outcome.standard_error, error_line("process_create_failed", message));
    EXPECT_EQ(status(), failed_document("process_create_failed", message));
    expect_only_group_entries("C:\\work\\project", 0x001301BF);
    expect_only_group_entries("C:\\work\\out", 0x001301BF);
    expect_nothing_left_running();
}

TEST_F(ProtectedRun, CommandWritesOnlyWhereThePolicySays) {
    std::ofstream(host("C:\\work\\tools\\readme.txt")) << "read me";
    write_policy(R"(,"writable_roots":["C:\\work\\out"],"readable_roots":["C:\\work\\tools"])");
    const auto outcome =
        run({"files", "create:C:\\work\\project\\a.txt", "write:C:\\work\\project\\a.txt",
             "read:C:\\work\\project\\a.txt", "delete:C:\\work\\project\\a.txt",
             "mkdir:C:\\work\\out\\sub", "create:C:\\work\\out\\sub\\b.txt",
             "read:C:\\work\\out\\sub\\b.txt", "delete:C:\\work\\out\\sub\\b.txt",
             "read:C:\\work\\tools\\readme.txt", "list:C:\\work\\tools",
             "write:C:\\work\\tools\\readme.txt", "create:C:\\work\\tools\\new.txt",
             "create:C:\\work\\runtime\\new.txt", "create:C:\\ProgramData\\Quarvel\\new.txt",
             "read:C:\\ProgramData\\Quarvel\\credentials.json", "create:C:\\work\\sibling\\new.txt",
             "mkdir:C:\\work\\sibling\\sub", "create:C:\\new.txt"});
    EXPECT_EQ(outcome.exit_code, 0) << outcome.standard_error;
    EXPECT_EQ(outcome.standard_output,
              "create C:\\work\\project\\a.txt: ok\n"
              "write C:\\work\\project\\a.txt: ok\n"
              "read C:\\work\\project\\a.txt: ok\n"
              "delete C:\\work\\project\\a.txt: ok\n"
              "mkdir C:\\work\\out\\sub: ok\n"
              "create C:\\work\\out\\sub\\b.txt: ok\n"
              "read C:\\work\\out\\sub\\b.txt: ok\n"
              "delete C:\\work\\out\\sub\\b.txt: ok\n"
              "read C:\\work\\tools\\readme.txt: ok\n"
              "list C:\\work\\tools: ok\n"
              "write C:\\work\\tools\\readme.txt: 5\n"
              "create C:\\work\\tools\\new.txt: 5\n"
              "create C:\\work\\runtime\\new.txt: 5\n"
              "create C:\\ProgramData\\Quarvel\\new.txt: 5\n"
              "read C:\\ProgramData\\Quarvel\\credentials.json: 5\n"
              "create C:\\work\\sibling\\new.txt: 5\n"
              "mkdir C:\\work\\sibling\\sub: 5\n"
              "create C:\\new.txt: 5\n");
    expect_only_group_entries("C:\\work\\tools", 0x001200A9);
}

// The command's TEMP and TMP name a directory of this run inside the runtime directory; the
// profile's own temporary folder admits none of its restricting SIDs. The directory goes with
// the run, whatever the command left in it, also when the run fails after the command started.
TEST_F(ProtectedRun, CommandHasATemporaryDirectoryOfItsOwnThatGoesWithTheRun) {
    write_policy();
    const auto outcome = run({"temp", "leave"});
    EXPECT_EQ(outcome.exit_code, 0) << outcome.standard_error;
    const std::string directory = R"(C:\\work\\runtime\\quarvel-temp-S-1-5-21(-[0-9]+){4})";
    EXPECT_TRUE(std::regex_match(outcome.standard_output,
                                 std::regex("TEMP (" + directory + "): ok\nTMP \\1: ok\n")))
        << outcome.standard_output;
    const auto left_in_runtime = [&] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(host("C:\\work\\runtime")))
            names.push_back(entry.path().filename().string());
        return names;
    };
    EXPECT_TRUE(left_in_runtime().empty());

    // The runner cannot forward the report: the run fails once the command has run.
    int output[2];
    ASSERT_EQ(::pipe(output), 0);
    ::close(output[0]);
    const pid_t runner = start_runner(run_arguments({"temp", "leave"}), output[1]);
    ::close(output[1]);
    EXPECT_EQ(exit_status_of(runner), 74);
    EXPECT_EQ(json_member(status(), "code"), "io_error");
    EXPECT_TRUE(left_in_runtime().empty());
    expect_nothing_left_running();
}

// Windows gives every secondary sign-in's child a console; the worker's and the profile
// initialisation's windows are hidden, so nothing appears on the user's desktop.
TEST_F(ProtectedRun, WorkerAndProfileConsolesAreHidden) {
    write_policy();
    EXPECT_EQ(run({"streams", "", "", "0"}).exit_code, 0);
    const auto windows = nlohmann::json::parse(winsim::console_windows_json());
    int workers = 0, profiles = 0;
    for (const auto& window : windows) {
        const auto line = window["command_line"].get<std::string>();
        workers += line.find(" __worker --pipe ") != std::string::npos;
        profiles += line.find("cmd.exe /d /c exit 0") != std::string::npos;
        EXPECT_EQ(window["shown"], false) << line;
    }
    EXPECT_EQ(workers, 1);
    EXPECT_EQ(profiles, 2);
    EXPECT_EQ(windows.size(), 3u);
}

// The worker's image is opened as the protected account: a program installed where that
// account cannot read it cannot run anything.
TEST_F(ProtectedRun, ProgramTheAccountCannotReadCannotStartItsWorker) {
    write_policy();
    std::filesystem::create_directories(host("C:\\private"));
    const auto installed = host("C:\\private\\quarvel-sandbox-windows.exe");
    std::filesystem::copy_file(QUARVEL_EXE, installed);
    ASSERT_TRUE(set_protected_dacl(to_wide("C:\\private"), "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)"));
    auto arguments = run_arguments({"streams", "", "", "0"});
    arguments[0] = installed.string();
    const auto outcome = run_process(arguments);
    const std::string message =
        "Could not create suspended protected command worker. Windows error 5.";
    EXPECT_EQ(outcome.exit_code, 70);
    EXPECT_EQ(outcome.standard_error, error_line("worker_start_failed", message));
    EXPECT_EQ(status(), failed_document("worker_start_failed", message));
    expect_only_group_entries("C:\\work\\project", 0x001301BF);
    expect_nothing_left_running();
}

TEST_F(ProtectedRun, CommandUsesItsOwnDesktopButCannotSwitchToItOrReachDefault) {
    write_policy();
    const auto outcome = run({"desktop"});
    ASSERT_EQ(outcome.exit_code, 0) << outcome.standard_error;
    const auto lines = lines_of(outcome.standard_output);
    ASSERT_EQ(lines.size(), 5u) << outcome.standard_output;
    EXPECT_TRUE(
        std::regex_match(lines[0], std::regex("connected QuarvelProtectedDesktop-[0-9a-f]{32}")))
        << lines[0];
    EXPECT_EQ(lines[1], "switch: 5");
    EXPECT_EQ(lines[2], "open for switching: 5");
    EXPECT_EQ(lines[3], "open for drawing: ok");
    EXPECT_EQ(lines[4], "open Default for writing: 5");
    EXPECT_EQ(winsim::input_desktop(), "");
}

TEST_F(ProtectedRun, CwdRepeatedInAnotherCaseIsGrantedOnce) {
    write_policy(R"(,"writable_roots":["c:\\WORK\\Project","C:\\work\\out"])");
    EXPECT_EQ(run({"streams", "", "", "0"}).exit_code, 0);
    EXPECT_EQ(run({"streams", "", "", "0"}).exit_code, 0);
    expect_only_group_entries("C:\\work\\project", 0x001301BF);
    expect_only_group_entries("C:\\work\\out", 0x001301BF);
}

TEST_F(ProtectedRun, WorkerThatDiesWithoutATerminalFrameIsAFailureAndAccessGoesBack) {
    write_policy();
    ProcessOptions options;
    // Started's prefix and body are the worker's first two writes; the two after them (the
    // terminal frame's prefix, then the failure report's) are refused: nothing terminal arrives.
    options.environment["WINSIM_FAULTS"] = "__worker/WriteFile:3:232,__worker/WriteFile:3:232";
    const auto outcome = run({"streams", "", "", "0"}, options);
    EXPECT_EQ(outcome.exit_code, 70);
    EXPECT_EQ(json_member(status(), "code"), "ipc_closed") << status();
    EXPECT_EQ(outcome.standard_error,
              error_line("ipc_closed", "Protected communication channel closed: 109."));
    expect_only_group_entries("C:\\work\\project", 0x001301BF);
    expect_nothing_left_running();
}

TEST_F(ProtectedRun, EachFailureOfTheRunnersOwnStepsIsReportedAndLeavesNothingBehind) {
    write_policy(R"(,"writable_roots":["C:\\work\\out"],"readable_roots":["C:\\work\\tools"])");
    const struct {
        const char* faults;
        const char* code;
        const char* message;  // starts with
        int exit_code;
    } rows[] = {
        {"run/CreateMutexW:1:5", "acl_lock_failed",
         "Could not open command protection access lock. Windows error 5.", 70},
        // Each location's final path is read once when the runtime directory's place is
        // checked (tools 1, project 2, out 3, runtime 4), then once to resolve it for its grant
        // and once more by each grant, through the handle that holds it (tools 5, 6; ...).
        {"run/GetFinalPathNameByHandleW:1:5", "io_error",
         "Could not resolve readable location C:\\work\\tools: Access is denied. (os error 5)", 74},
        {"run/GetFinalPathNameByHandleW:2:5", "io_error",
         "Could not resolve writable location C:\\work\\project: Access is denied. (os error 5)",
         74},
        {"run/GetFinalPathNameByHandleW:3:5", "io_error",
         "Could not resolve writable location C:\\work\\out: Access is denied. (os error 5)", 74},
        {"run/GetFinalPathNameByHandleW:4:5", "io_error",
         "Could not resolve runtime directory: Access is denied. (os error 5)", 74},
        {"run/GetFinalPathNameByHandleW:6:5", "io_error",
         "Could not inspect protected path: Access is denied. (os error 5)", 74},
        {"run/SetNamedSecurityInfoW:3:5", "acl_update_failed",
         "Could not apply access rules for \\\\?\\C:\\work\\project: 5.", 70},
        {"run/CreateNamedPipeW:1:8", "ipc_create_failed",
         "Could not create protected communication channel. Windows error 8.", 70},
        {"run/GetModuleFileNameW:1:5", "io_error",
         "Could not locate native helper: Access is denied. (os error 5)", 74},
        {"run/CreateProcessWithLogonW:1:1326", "worker_start_failed",
         "Could not create suspended protected command worker. Windows error 1326.", 70},
        {"run/CreateProcessWithLogonW:1:1:quirk", "worker_start_failed",
         "Could not open protected command worker.", 70},
        {"run/CreateProcessWithLogonW:1:2:quirk", "worker_start_failed",
         "Could not open protected command worker thread.", 70},
        {"run/CreateJobObjectW:1:8", "job_create_failed",
         "Could not create process job. Windows error 8.", 70},
        {"run/SetInformationJobObject:1:5", "job_configuration_failed",
         "Could not secure process job. Windows error 5.", 70},
        {"run/AssignProcessToJobObject:1:5", "job_assignment_failed",
         "Could not attach suspended process to its secured job. Windows error 5.", 70},
        {"run/ResumeThread:1:5", "worker_resume_failed",
         "Could not resume protected command worker after job assignment. Windows error 5.", 70},
        {"run/GetNamedPipeClientProcessId:1:5", "worker_start_failed",
         "Could not identify protected command worker. Windows error 5.", 70},
        {"run/GetNamedPipeClientProcessId:1:4:quirk", "worker_start_failed",
         "Protected communication channel was opened by another process.", 70},
        {"__worker/CreateProcessAsUserW:1:5", "process_create_failed",
         "Could not create suspended protected command. Windows error 5.", 70},
        {"run/CreateDirectoryW:1:5", "io_error",
         "Could not record workspace grants: Access is denied. (os error 5)", 74},
        {"run/CreateDirectoryW:2:5", "io_error",
         "Could not create command temporary directory: Access is denied. (os error 5)", 74},
        {"run/SetNamedSecurityInfoW:7:5", "runtime_acl_failed",
         "Could not protect directory access: 5.", 70},
        {"__worker/SetEnvironmentVariableW:1:8", "command_environment_failed",
         "Could not set protected command temporary directory. Windows error 8.", 70},
    };
    for (const auto& row : rows) {
        ProcessOptions options;
        options.environment["WINSIM_FAULTS"] = row.faults;
        const auto outcome = run({"streams", "", "", "0"}, options);
        EXPECT_EQ(outcome.exit_code, row.exit_code) << row.faults;
        const auto document = nlohmann::json::parse(status(), nullptr, false);
        const auto line = nlohmann::json::parse(outcome.standard_error, nullptr, false);
        ASSERT_TRUE(document.is_object() && line.is_object())
            << row.faults << outcome.standard_error;
        EXPECT_EQ(document["state"], "failed") << row.faults;
        EXPECT_EQ(line["code"], row.code) << row.faults;
        EXPECT_EQ(line["message"].get<std::string>().rfind(row.message, 0), 0u)
            << row.faults << ": " << line["message"];
        EXPECT_EQ(document["code"], line["code"]) << row.faults;
        EXPECT_EQ(document["message"], line["message"]) << row.faults;
        expect_no_capability_entries("C:\\work\\project");
        expect_no_capability_entries("C:\\work\\out");
        expect_nothing_left_running();
        EXPECT_TRUE(std::filesystem::is_empty(host("C:\\work\\runtime"))) << row.faults;
    }
}

TEST_F(ProtectedRun, RunnerKilledMidRunLeavesNoWorkerAndNoCommand) {
    write_policy();
    const pid_t runner = start_runner(run_arguments({"wait-for", "C:\\never", "0"}), -1);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (status().find("\"running\"") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    ASSERT_NE(status().find("\"running\""), std::string::npos);
    const auto command = static_cast<pid_t>(std::stol(json_member(status(), "process_id")));
    EXPECT_FALSE(process_has_ended(command));
    ::kill(runner, SIGKILL);
    exit_status_of(runner);
    EXPECT_TRUE(wait_until_ended(command, 30000));
    expect_nothing_left_running();
}

TEST_F(ProtectedRun, OutputStreamWithoutAReaderEndsTheRunWithTheForwardingFailure) {
    write_policy();
    const struct {
        int stream;
        std::vector<std::string> command;
        const char* message;  // starts with
    } rows[] = {
        {STDOUT_FILENO, {"utf8", "4"}, "Could not forward command output: "},
        {STDERR_FILENO,
         {"streams", "", "to standard error", "0"},
         "Could not forward command error output: "},
    };
    for (const auto& row : rows) {
        const auto arguments = run_arguments(row.command);
        int output[2];
        ASSERT_EQ(::pipe(output), 0);
        ::close(output[0]);  // nobody will read
        const pid_t runner = start_runner(arguments, output[1], row.stream);
        ::close(output[1]);
        EXPECT_EQ(exit_status_of(runner), 74) << row.message;
        EXPECT_EQ(json_member(status(), "code"), "io_error") << row.message;
        EXPECT_EQ(json_member(status(), "message").rfind(row.message, 0), 0u) << status();
        expect_only_group_entries("C:\\work\\project", 0x001301BF);
        expect_nothing_left_running();

        // Without that stream at all the output is dropped and the run goes on.
        const pid_t without = start_runner(arguments, -1, row.stream);
        EXPECT_EQ(exit_status_of(without), 0) << row.message;
        EXPECT_EQ(json_member(status(), "state"), "completed") << row.message;
    }
}

TEST_F(ProtectedRun, EightRunsAtOnceEachGetTheirOwnOutcome) {
    write_policy(R"(,"writable_roots":["C:\\work\\out"])");
    std::vector<ProcessOutcome> outcomes(8);
    std::vector<std::thread> runs;
    for (int k = 0; k < 8; ++k)
        runs.emplace_back([&, k] {
            outcomes[k] = run({"streams", "run " + std::to_string(k), "", std::to_string(10 + k)});
        });
    for (auto& thread : runs)
        thread.join();
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(outcomes[k].exit_code, 10 + k) << outcomes[k].standard_error;
        EXPECT_EQ(outcomes[k].standard_output, "run " + std::to_string(k));
    }
    expect_only_group_entries("C:\\work\\project", 0x001301BF);
    expect_only_group_entries("C:\\work\\out", 0x001301BF);
}

TEST_F(ProtectedRun, MegabytesOfSplitCharactersArriveByteIdentical) {
    write_policy();
    const auto outcome = run({"utf8", "256"});
    ASSERT_EQ(outcome.exit_code, 0) << outcome.standard_error;
    ASSERT_EQ(outcome.standard_output.size(), 256u * 8192u);
    // The same text the command builds: two-byte characters, and a four-byte one across each
    // 8,192-byte boundary.
    std::string expected;
    while (expected.size() < 256u * 8192u) {
        const std::size_t boundary = (expected.size() / 8192 + 1) * 8192;
        while (expected.size() + 2 < boundary)
            expected += "\xC3\xA9";
        expected += "\xF0\x9F\x98\x80";
    }
    expected.resize(256u * 8192u - 2);
    expected += "\n!";
    EXPECT_TRUE(outcome.standard_output == expected);
}

}  // namespace
}  // namespace quarvel::testing
