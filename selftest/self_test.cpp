#include "selftest/self_test.h"

#include <string>

#include "platform/whole_file.h"
#include "platform/win32.h"
#include "selftest/host_environment.h"
#include "selftest/network.h"
#include "selftest/probe_request.h"
#include "selftest/program_run.h"
#include "selftest/workspace.h"
#include "windows/security/account_lookup.h"

namespace quarvel::selftest {
namespace {

constexpr std::uint32_t kRunningTimeoutMs = 60000;
constexpr std::uint32_t kGoneTimeoutMs = 10000;
constexpr std::uint64_t kFilesPerFolder = 100;
constexpr const char* kLookupName = "www.microsoft.com";

struct Mode {
    const char* name;
    bool network_enabled;
    const char* account;
};
constexpr Mode kModes[] = {{"network enabled", true, "QuarvelSandboxOnline"},
                           {"network disabled", false, "QuarvelSandboxNoNet"}};

// The last line on standard error that is not a trace line: the program's JSON error line.
std::string error_line(const ProgramOutcome& outcome) {
    for (auto it = outcome.error_lines.rbegin(); it != outcome.error_lines.rend(); ++it)
        if (!it->text.starts_with(kTracePrefix))
            return it->text;
    return {};
}

std::string outcome_text(const ProgramOutcome& outcome) {
    const std::string line = error_line(outcome);
    return "exit code " + std::to_string(outcome.exit_code) + (line.empty() ? "" : ": " + line);
}

// Everything one session needs to know as it goes.
struct Session {
    const Options& options;
    SelfTestReport& report;
    HostIdentity identity;
    Workspace workspace;
    std::string copy;
    std::optional<std::uint16_t> listener_port;
    std::optional<std::string> own_address;

    std::vector<std::string> program_arguments(std::vector<std::string> tail) const {
        tail.insert(tail.begin(), options.program);
        return tail;
    }
    std::vector<std::string> run_arguments(const std::string& policy,
                                           std::vector<std::string> command) const {
        std::vector<std::string> arguments = {
            options.program, "run",  "--state-dir", options.state_dir,
            "--policy",      policy, "--",          copy};
        arguments.insert(arguments.end(), command.begin(), command.end());
        return arguments;
    }
};

Result<std::string> write_policy(Session& session, const std::string& name,
                                 const nlohmann::json& policy) {
    return make_file(session.workspace, name, policy.dump());
}

nlohmann::json policy_for(const std::string& cwd, const std::string& runtime_dir,
                          const std::string& status_file, bool network_enabled) {
    return {{"version", 1},
            {"cwd", cwd},
            {"runtime_dir", runtime_dir},
            {"network", network_enabled ? "enabled" : "disabled"},
            {"status_file", status_file}};
}

// A file a program wrote into the workspace goes with the workspace.
void record_written(Session& session, const std::string& path) {
    if (GetFileAttributesW(to_wide(path).c_str()) != INVALID_FILE_ATTRIBUTES)
        session.workspace.made.push_back(path);
}

// The status document of a run, once the run says its command is running; its process id.
std::optional<std::uint32_t> running_command(const RunningProgram& runner,
                                             const std::string& status_file) {
    const ULONGLONG deadline = GetTickCount64() + kRunningTimeoutMs;
    while (GetTickCount64() < deadline && runner.running()) {
        if (auto text = read_whole_file(to_wide(status_file))) {
            const auto status = nlohmann::json::parse(*text, nullptr, false);
            if (status.is_object() && status.value("state", "") == "running" &&
                status.contains("process_id"))
                return status["process_id"].get<std::uint32_t>();
        }
        Sleep(50);
    }
    return std::nullopt;
}

// Whether a process with this id is gone, waiting a while for it to go: opening it fails with
// ERROR_INVALID_PARAMETER once no process has the id. One that is still there may be refused
// to this user (access denied): it still counts as there.
std::string process_state(std::uint32_t pid) {
    const ULONGLONG deadline = GetTickCount64() + kGoneTimeoutMs;
    for (;;) {
        UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
        const DWORD error = process ? 0 : GetLastError();
        DWORD code = STILL_ACTIVE;
        if (error == ERROR_INVALID_PARAMETER ||
            (process && GetExitCodeProcess(process.get(), &code) && code != STILL_ACTIVE))
            return "gone";
        if (GetTickCount64() >= deadline)
            return error == 0
                       ? "still running"
                       : "still there (Windows error " + std::to_string(error) + " opening it)";
        Sleep(50);
    }
}

void add_mode_checks(Session& session, const Mode& mode, const ProgramOutcome& outcome) {
    const auto document = nlohmann::json::parse(outcome.standard_output, nullptr, false);
    const bool reported = document.is_object() && document.contains("checks");
    auto completed = property("runs.completed", "the protected run of the self-test completed",
                              outcome.exit_code == 0 && reported, outcome_text(outcome));
    completed.mode = mode.name;
    session.report.checks.push_back(std::move(completed));
    if (!reported)
        return;
    try {
        for (const auto& value : document["checks"]) {
            auto check = check_from_json(value);
            check.mode = mode.name;
            session.report.checks.push_back(std::move(check));
        }
    } catch (const std::exception& error) {
        auto malformed = property("runs.report", "the self-test's copy reported its checks", false,
                                  error.what());
        malformed.mode = mode.name;
        session.report.checks.push_back(std::move(malformed));
        return;
    }
    const auto child = document.value("child_process_id", std::uint32_t{0});
    CheckResult gone = child == 0
                           ? not_reached("processes.child.gone", "the child is gone after the run",
                                         Expectation::holds, "no child was started")
                           : property("processes.child.gone", "the child is gone after the run",
                                      process_state(child) == "gone", process_state(child));
    gone.mode = mode.name;
    session.report.checks.push_back(std::move(gone));
}

ProbeRequest request_for(const Session& session, const Mode& mode, const std::string& other_cwd,
                         std::uint32_t other_pid) {
    const Workspace& workspace = session.workspace;
    ProbeRequest request;
    request.mode = mode.name;
    request.network_enabled = mode.network_enabled;
    request.cwd = workspace.cwd;
    request.writable_root = workspace.writable_root;
    request.readable_root = workspace.readable_root;
    request.readable_secret = workspace.readable_secret;
    request.sibling = workspace.sibling;
    request.sibling_secret = workspace.sibling_secret;
    request.runtime_dir = workspace.runtime_dir;
    request.other_workspace = other_cwd;
    request.state_dir = session.options.state_dir;
    request.credentials = join_path(session.options.state_dir, "credentials.json");
    const auto profile = environment_value("USERPROFILE");
    request.user_profile = profile && folder_exists(*profile) ? *profile : "";
    request.system_root = environment_value("SystemDrive").value_or("C:") + "\\";
    request.program_copy = session.copy;
    request.host_pid = GetCurrentProcessId();
    request.other_command_pid = other_pid;
    auto expected = lookup_account_sid_text(mode.account);
    request.expected_user_sid = expected ? *expected : "";
    request.runner_logon_sid = session.identity.logon_sid;
    request.host_user_sid = session.identity.user_sid;
    request.listener_port = session.listener_port;
    request.own_address = session.own_address;
    request.lookup_name = kLookupName;
    return request;
}

// One protected run of the self-test's copy as the command; its checks go into the report.
Result<void> run_probe_command(Session& session, const Mode& mode, const std::string& other_cwd,
                               std::uint32_t other_pid) {
    const std::string suffix = mode.network_enabled ? "enabled" : "disabled";
    const std::string status = join_path(session.workspace.root, "status-" + suffix + ".json");
    auto document = policy_for(session.workspace.cwd, session.workspace.runtime_dir, status,
                               mode.network_enabled);
    document["writable_roots"] = {session.workspace.writable_root};
    document["readable_roots"] = {session.workspace.readable_root};
    const auto policy = write_policy(session, "policy-" + suffix + ".json", document);
    if (!policy)
        return std::unexpected(policy.error());
    const std::string request_path =
        join_path(session.workspace.readable_root, "probe-" + suffix + ".json");
    auto runner =
        RunningProgram::start(session.run_arguments(*policy, {"__probe", request_path}), true);
    if (!runner)
        return std::unexpected(std::move(runner.error()));
    ProbeRequest request = request_for(session, mode, other_cwd, other_pid);
    request.runner_pid = runner->process_id();
    auto request_file = make_file(session.workspace, "readable\\probe-" + suffix + ".json",
                                  to_json(request).dump());
    if (!request_file)
        return std::unexpected(std::move(request_file.error()));
    auto outcome = runner->finish();
    record_written(session, status);
    if (!outcome)
        return std::unexpected(std::move(outcome.error()));
    add_mode_checks(session, mode, *outcome);
    return {};
}

// A second run whose command stays alive until told to stop, for the first to try to reach.
struct OtherRun {
    std::optional<RunningProgram> runner;
    std::string cwd;
    std::string status_file;
    std::uint32_t command_pid = 0;
};

Result<OtherRun> start_other_run(Session& session) {
    OtherRun other;
    for (const char* folder : {"other", "other\\cwd", "other\\runtime"})
        if (auto made = make_folder(session.workspace, folder); !made)
            return std::unexpected(made.error());
    other.cwd = join_path(session.workspace.root, "other\\cwd");
    const std::string status = join_path(session.workspace.root, "other\\status.json");
    auto policy = write_policy(
        session, "other\\policy.json",
        policy_for(other.cwd, join_path(session.workspace.root, "other\\runtime"), status, true));
    if (!policy)
        return std::unexpected(policy.error());
    auto runner = RunningProgram::start(
        session.run_arguments(*policy, {"__linger", join_path(other.cwd, "stop")}));
    if (!runner)
        return std::unexpected(std::move(runner.error()));
    other.command_pid = running_command(*runner, status).value_or(0);
    other.runner.emplace(std::move(*runner));
    other.status_file = status;
    return other;
}

void stop_other_run(Session& session, OtherRun& other) {
    if (!other.runner)
        return;
    // Made by the user, as the runner's own files are; the command only waits for it.
    if (make_file(session.workspace, "other\\cwd\\stop", "stop"))
        (void)other.runner->finish();
    other.runner.reset();
    record_written(session, other.status_file);
}

Result<void> make_files(Session& session, const std::string& folder, std::uint64_t count) {
    for (std::uint64_t at = 0; at < count; at += kFilesPerFolder) {
        const std::string sub = folder + "\\d" + std::to_string(at / kFilesPerFolder);
        if (auto made = make_folder(session.workspace, sub); !made)
            return std::unexpected(made.error());
        for (std::uint64_t k = at; k < std::min(count, at + kFilesPerFolder); ++k)
            if (auto made =
                    make_file(session.workspace, sub + "\\f" + std::to_string(k) + ".txt", "x");
                !made)
                return std::unexpected(made.error());
    }
    return {};
}

// A run of a command that exits at once over a workspace of `files` files.
Result<RunTiming> timed_run(Session& session, std::uint64_t files) {
    const std::string base = "timing-" + std::to_string(files);
    for (const auto& folder : {base, base + "\\cwd", base + "\\runtime"})
        if (auto made = make_folder(session.workspace, folder); !made)
            return std::unexpected(made.error());
    if (auto made = make_files(session, base + "\\cwd", files); !made)
        return std::unexpected(made.error());
    const std::string root = join_path(session.workspace.root, base);
    auto policy = write_policy(session, base + "\\policy.json",
                               policy_for(join_path(root, "cwd"), join_path(root, "runtime"),
                                          join_path(root, "status.json"), true));
    if (!policy)
        return std::unexpected(policy.error());
    auto outcome = run_program(session.run_arguments(*policy, {"__exit"}));
    record_written(session, join_path(root, "status.json"));
    if (!outcome)
        return std::unexpected(std::move(outcome.error()));
    return run_timing(files == 0 ? "run of a command that exits at once"
                                 : "run over a workspace of " + std::to_string(files) + " files",
                      files, *outcome);
}

void open_network(Session& session) {
#if QUARVEL_HAS_SOCKETS
    // Both stay open until the self-test ends: the probes connect to the listener.
    static SocketLibrary sockets;
    if (!sockets.ready())
        return;
    static std::optional<Listener> listener = Listener::open();
    if (!listener)
        return;
    session.listener_port = listener->port();
    // Only an address the self-test reaches itself makes a refusal inside the sandbox mean
    // something.
    auto address = own_outbound_address();
    if (address && try_connect(*address, listener->port(), 3000) == 0)
        session.own_address = address;
#else
    (void)session;
#endif
}

void stop(SelfTestReport& report, const std::string& where, const std::string& why) {
    report.stopped = where + ": " + why;
}

void run_checks(Session& session) {
    SelfTestReport& report = session.report;
    const std::string probe_status = join_path(session.workspace.root, "probe-status.json");
    auto probe = run_program(session.program_arguments(
        {"probe", "--state-dir", session.options.state_dir, "--status-file", probe_status}));
    if (!probe)
        return stop(report, "probe", probe.error().message);
    record_written(session, probe_status);
    report.timings.push_back(run_timing("probe", 0, *probe));
    if (probe->exit_code != 0)
        return stop(report, "probe", outcome_text(*probe));

    open_network(session);
    auto other = start_other_run(session);
    if (!other)
        return stop(report, "the other run", other.error().message);
    for (const auto& mode : kModes) {
        if (auto ran = run_probe_command(session, mode, other->cwd, other->command_pid); !ran) {
            stop_other_run(session, *other);
            return stop(report, std::string("the run with ") + mode.name, ran.error().message);
        }
    }
    stop_other_run(session, *other);

    std::vector<std::uint64_t> sizes = {0};
    sizes.insert(sizes.end(), session.options.timing_files.begin(),
                 session.options.timing_files.end());
    for (const auto files : sizes) {
        auto timing = timed_run(session, files);
        if (!timing)
            return stop(report, "the timing runs", timing.error().message);
        report.timings.push_back(std::move(*timing));
    }
}

}  // namespace

SelfTestReport run_self_test(const Options& options) {
    SelfTestReport report;
    report.program = options.program;
    report.state_dir = options.state_dir;
    // Every run reports its stages as it goes: the grant and release times come from them.
    SetEnvironmentVariableW(WIDE("QUARVEL_NATIVE_TRACE"), WIDE("1"));

    auto identity = host_identity();
    auto program = own_program_path();
    auto parent = options.work_dir ? Result<std::string>(*options.work_dir) : temporary_folder();
    if (!identity || !program || !parent) {
        const Failure& failure =
            !identity ? identity.error() : (!program ? program.error() : parent.error());
        stop(report, "preparing", failure.message);
        return report;
    }
    Session session{options, report, *identity, {}, {}, {}, {}};
    if (auto prepared = prepare_workspace(session.workspace, *parent, *program, identity->user_sid);
        !prepared) {
        stop(report, "preparing the workspace", prepared.error().message);
    } else {
        session.copy = session.workspace.program_copy;
        bool ready = true;
        if (options.setup) {
            std::vector<std::string> setup = {"setup", "--state-dir", options.state_dir,
                                              "--status-file",
                                              join_path(session.workspace.root, "setup.json")};
            if (options.owner_sid) {
                setup.push_back("--owner-sid");
                setup.push_back(*options.owner_sid);
            }
            auto outcome = run_program(session.program_arguments(setup));
            record_written(session, join_path(session.workspace.root, "setup.json"));
            ready = outcome && outcome->exit_code == 0;
            if (!ready)
                stop(report, "setup", outcome ? outcome_text(*outcome) : outcome.error().message);
        }
        if (ready)
            run_checks(session);
    }
    if (!options.keep)
        report.left_behind = remove_workspace(session.workspace);
    return report;
}

std::uint32_t write_report(const SelfTestReport& report, const std::string& path) {
    const auto written = write_whole_file(
        to_wide(path),
        report_json(report).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
    return written ? 0 : written.error();
}

}  // namespace quarvel::selftest
