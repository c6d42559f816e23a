#include "windows/runner/run_operation.h"

#include <optional>

#include "cli/console.h"
#include "cli/failure.h"
#include "documents/command_temp_directory.h"
#include "documents/sandbox_policy.h"
#include "documents/worker_request.h"
#include "platform/directory_tree.h"
#include "platform/file_attributes.h"
#include "platform/win32.h"
#include "platform/windows_path.h"
#include "status/publish_status.h"
#include "status/status_report.h"
#include "windows/channel/message_framing.h"
#include "windows/channel/protected_pipe.h"
#include "windows/runner/canonical_path.h"
#include "windows/runner/capability_sid.h"
#include "windows/runner/grant_recovery.h"
#include "windows/runner/run_record_file.h"
#include "windows/runner/runtime_separation.h"
#include "windows/runner/trace.h"
#include "windows/runner/worker_launch.h"
#include "windows/runner/workspace_grant.h"
#include "windows/runner/workspace_locations.h"
#include "windows/security/access_lock.h"
#include "windows/security/os_failure.h"
#include "windows/security/path_access.h"
#include "windows/security/protected_directories.h"
#include "windows/security/sid_conversion.h"
#include "windows/setup/load_setup.h"

namespace quarvel {
namespace {

// Once the policy is known, every failure goes to its status file as well. The host learns
// the outcome from that file when it can be written; when it cannot, the error line on
// standard error still carries the failure, so the publication's own failure stays silent. A
// status file that is not absolute names no place the host chose: resolved against the
// runner's current directory or drive, it would land anywhere, so it gets nothing.
std::int32_t report_early_failure(const SandboxPolicy& policy, const Failure& failure) {
    if (is_absolute_windows_path(policy.status_file))
        (void)publish_status(policy.status_file, failed_report(Operation::run, failure));
    print_error_line(failure);
    return failure.exit_code;
}

// A link counts as what it leads to: a dangling one is not there.
bool exists(const WideString& path) {
    return attributes_following_links(path).has_value();
}

Failure location_failure(std::string_view message) {
    return fixed_failure("invalid_request", message, exit_code::invalid_request);
}

// The first of `roots` that does not exist, as "<which> location does not exist: <root>.".
Result<void> check_roots(const std::vector<WideString>& roots, std::string_view which) {
    for (const auto& root : roots)
        if (!exists(root))
            return std::unexpected(
                formatted_failure("invalid_request", exit_code::invalid_request, which,
                                  " location does not exist: ", narrow_lossy(root), "."));
    return {};
}

Result<WideString> resolve_location(const WideString& path, std::string_view which) {
    auto canonical = canonical_path(path);
    if (!canonical)
        return std::unexpected(io_failure(
            "Could not resolve " + std::string(which) + " location " + narrow_lossy(path),
            canonical.error()));
    return std::move(*canonical);
}

// The locations are resolved in the order the grants resolve them, so that a location that
// cannot be resolved fails here as it would fail there.
Result<void> check_runtime_separation(const SandboxPolicy& policy) {
    const WorkspaceLocations locations = workspace_locations(policy);
    std::vector<WideString> workspace;
    for (const auto& [list, which] :
         {std::pair{&locations.readable, "readable"}, std::pair{&locations.writable, "writable"}})
        for (const auto& location : *list) {
            auto canonical = resolve_location(location, which);
            if (!canonical)
                return std::unexpected(canonical.error());
            workspace.push_back(std::move(*canonical));
        }
    const auto runtime = canonical_path(policy.runtime_dir);
    if (!runtime)
        return std::unexpected(io_failure("Could not resolve runtime directory", runtime.error()));
    if (!is_separate_from_workspace(*runtime, workspace))
        return std::unexpected(
            location_failure("Policy runtime_dir must be separate from the workspace."));
    return {};
}

// Everything a location check refuses, before any access list is changed.
Result<void> check_locations(const SandboxPolicy& policy) {
    if (!is_existing_directory(policy.cwd))
        return std::unexpected(location_failure("Policy cwd must be an existing directory."));
    if (!is_existing_directory(policy.runtime_dir))
        return std::unexpected(
            location_failure("Policy runtime_dir must be an existing directory."));
    if (auto writable = check_roots(policy.writable_roots, "Writable"); !writable)
        return writable;
    if (auto readable = check_roots(policy.readable_roots, "Readable"); !readable)
        return readable;
    return check_runtime_separation(policy);
}

// One run, from the loaded setup to its exit code. Members hold what the failure path must give
// back; they are released in the order the failure path names.
class Runner {
  public:
    Runner(WideView state_dir, const SandboxPolicy& policy, const LoadedSetup& setup,
           const std::vector<std::string>& command)
        : state_dir_(state_dir), policy_(policy), setup_(setup), command_(command) {}

    std::int32_t run() {
        auto exit = run_steps();
        if (exit)
            return *exit;
        return fail(exit.error());
    }

  private:
    bool offline() const { return policy_.network == NetworkMode::disabled; }
    const std::string& account_sid() const {
        return offline() ? setup_.marker.offline_sid : setup_.marker.online_sid;
    }
    const AccountCredential& credential() const {
        return offline() ? setup_.offline : setup_.online;
    }

    Result<std::int32_t> run_steps() {
        SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
        trace_stage("runtime_validation_started");
        if (auto checked = check_locations(policy_); !checked)
            return std::unexpected(checked.error());
        trace_stage("runtime_validation_ready");

        auto capability_sid = make_capability_sid();
        if (!capability_sid)
            return std::unexpected(capability_sid.error());
        auto capability = sid_from_string(*capability_sid);
        if (!capability)
            return std::unexpected(capability.error());
        auto group = sid_from_string(setup_.marker.group_sid);
        if (!group)
            return std::unexpected(group.error());
        trace_stage("workspace_access_started");

        grant_.emplace(std::move(*capability));
        if (auto granted = grant_workspace(*capability_sid, group->get()); !granted)
            return std::unexpected(granted.error());
        trace_stage("workspace_access_ready");

        if (auto secured = secure_runtime_directory(*capability_sid, group->get()); !secured)
            return std::unexpected(secured.error());

        // The marker keeps the owner as it was typed ("BA", a hexadecimal authority); the
        // pipe's descriptor string is spliced from SID text and takes only the standard form.
        auto owner = standard_sid_text(setup_.marker.owner_sid);
        if (!owner)
            return std::unexpected(owner.error());
        auto pipe = create_protected_pipe(*owner, account_sid());
        if (!pipe)
            return std::unexpected(pipe.error());
        pipe_ = std::move(pipe->handle);
        trace_stage("worker_launch_started");

        auto worker = launch_worker(credential(), pipe->name, policy_.runtime_dir);
        if (!worker)
            return std::unexpected(worker.error());
        worker_ = std::move(*worker);
        trace_stage("worker_launched");

        if (auto connected = connect_worker(); !connected)
            return std::unexpected(connected.error());
        trace_stage("worker_connected");

        if (auto sent = send_request(*capability_sid); !sent)
            return std::unexpected(sent.error());
        trace_stage("request_sent");

        auto ended = relay_frames();
        if (!ended)
            return std::unexpected(ended.error());
        trace_stage("terminal_frame_received");

        Result<void> waited = wait_worker(std::move(*worker_));
        worker_.reset();
        trace_stage("worker_stopped");
        remove_temp_directory();
        Result<void> released = grant_->release();
        drop_record_when_nothing_is_left();
        trace_stage("workspace_access_released");

        if (!*ended)
            return std::unexpected(ended->error());
        if (!waited)
            return std::unexpected(waited.error());
        if (!released)
            return std::unexpected(released.error());
        const std::int32_t command_exit = ended->value();
        StatusReport completed = success_report(Operation::run, StatusState::completed, "completed",
                                                "Protected command completed.");
        completed.exit_code = command_exit;
        if (auto published = publish_status(policy_.status_file, completed); !published)
            return std::unexpected(published.error());
        pipe_.reset();
        return command_exit;
    }

    // The grants under one acquisition of the access lock: the group reads the readable
    // locations; the group and the capability SID modify the writable ones. A failure takes
    // back what the capability SID was granted so far before the lock is let go. First, under
    // the same lock, what runs that are gone left behind is taken back, and this run's record
    // is started, so that everything it grants is written down before it is granted.
    Result<void> grant_workspace(const std::string& capability_sid, PSID group) {
        const WorkspaceLocations locations = workspace_locations(policy_);
        auto lock = acquire_access_lock();
        if (!lock)
            return std::unexpected(lock.error());
        recover_dead_runs_traced(state_dir_);
        auto record = RunRecordFile::create(state_dir_, capability_sid);
        if (!record)
            return std::unexpected(record.error());
        record_.emplace(std::move(*record));
        auto granted = grant_locations(locations, group);
        if (!granted)
            (void)grant_->release();
        lock->release();
        return granted;
    }

    Result<void> grant_locations(const WorkspaceLocations& locations, PSID group) {
        for (const auto& location : locations.readable) {
            auto canonical = resolve_location(location, "readable");
            if (!canonical)
                return std::unexpected(canonical.error());
            if (auto granted =
                    set_path_access(*canonical, group, kReadAndExecuteAccess, GRANT_ACCESS);
                !granted)
                return granted;
        }
        for (const auto& location : locations.writable) {
            auto canonical = resolve_location(location, "writable");
            if (!canonical)
                return std::unexpected(canonical.error());
            if (auto granted = set_path_access(*canonical, group, kModifyAccess, GRANT_ACCESS);
                !granted)
                return granted;
            if (auto recorded = record_->add_path(*canonical); !recorded)
                return recorded;
            grant_->record(*canonical);
            if (auto granted =
                    set_path_access(*canonical, grant_->capability(), kModifyAccess, GRANT_ACCESS);
                !granted)
                return granted;
        }
        return {};
    }

    // Runs that share a runtime directory each replace its list, which Windows carries into
    // everything in it, while others make and remove their temporary directories there: the
    // access lock keeps the two apart. The grant lock is let go before; this is a second
    // acquisition, as the release's is.
    Result<void> secure_runtime_directory(const std::string& capability_sid, PSID group) {
        auto lock = acquire_access_lock();
        if (!lock)
            return std::unexpected(lock.error());
        if (auto secured =
                protect_runtime_directory(policy_.runtime_dir, setup_.marker.owner_sid, group);
            !secured)
            return secured;
        trace_stage("runtime_access_ready");
        return prepare_temp_directory(capability_sid, group);
    }

    // The command's temporary directory, made inside the secured runtime directory with a list
    // of its own that lets the group and the capability SID modify it, as a writable root does.
    // It is named through the runtime directory's final path, which has no length limit, so
    // that nothing the command nests inside it is out of the removal's reach; and written down
    // in the run's record before it is made.
    Result<void> prepare_temp_directory(const std::string& capability_sid, PSID group) {
        auto runtime = canonical_path(policy_.runtime_dir);
        if (!runtime)
            return std::unexpected(
                io_failure("Could not create command temporary directory", runtime.error()));
        WideString directory = command_temp_directory(*runtime, capability_sid);
        if (auto recorded = record_->add_temporary_directory(directory); !recorded)
            return recorded;
        if (!CreateDirectoryW(directory.c_str(), nullptr))
            return std::unexpected(io_failure("Could not create command temporary directory",
                                              static_cast<std::uint32_t>(GetLastError())));
        temp_directory_ = directory;
        return protect_command_temp_directory(directory, setup_.marker.owner_sid, group,
                                              grant_->capability());
    }

    // Once nothing of the command runs any more. What is inside goes first, without the lock
    // (no other run's list reaches into the directory); the directory itself goes under the
    // access lock, out of the way of another run replacing the runtime directory's list. What
    // cannot be removed does not change the run's outcome; a trace line says it stayed, and the
    // run's record keeps naming it.
    void remove_temp_directory() {
        if (!temp_directory_)
            return;
        if (remove_directory_contents(*temp_directory_) == 0) {
            auto lock = acquire_access_lock();
            if (lock && (RemoveDirectoryW(temp_directory_->c_str()) ||
                         is_not_found_error(GetLastError()))) {
                temp_directory_.reset();
                return;
            }
        }
        trace_stage("command_temp_directory_left");
    }

    // The record goes last, and only when nothing it names is left: otherwise it stays (its
    // handle closes with this process) and the next recovery takes the rest back.
    void drop_record_when_nothing_is_left() {
        if (record_ && grant_ && grant_->released() && !temp_directory_)
            record_->remove();
    }

    // The worker connects, and the client at the other end is the worker itself: a process
    // that opened the pipe first must not be handed the request.
    Result<void> connect_worker() {
        if (auto accepted = accept_worker(pipe_.get(), worker_->process.get()); !accepted)
            return accepted;
        ULONG client = 0;
        if (!GetNamedPipeClientProcessId(pipe_.get(), &client))
            return std::unexpected(
                os_failure("worker_start_failed", "Could not identify protected command worker."));
        if (client != GetProcessId(worker_->process.get()))
            return std::unexpected(
                fixed_failure("worker_start_failed",
                              "Protected communication channel was opened by another process.",
                              exit_code::internal));
        return {};
    }

    Result<void> send_request(const std::string& capability_sid) {
        WorkerRequest request;
        request.version = kSupportedWorkerProtocolVersion;
        request.policy = policy_;
        request.command = command_;
        request.account_sid = account_sid();
        request.base_sid = setup_.marker.group_sid;
        request.capability_sid = capability_sid;
        request.trace = trace_enabled();
        if (auto valid = validate_worker_request(request); !valid)
            return valid;
        return write_message(pipe_.get(), request);
    }

    // The frames up to the terminal one: the command's exit code, or the worker's failure. A
    // transport failure or a frame that cannot be acted on is the outer failure.
    Result<Result<std::int32_t>> relay_frames() {
        for (;;) {
            auto frame = read_message<WorkerFrame>(pipe_.get());
            if (!frame)
                return std::unexpected(frame.error());
            auto outcome = std::visit([this](const auto& f) { return handle(f); }, *frame);
            if (!outcome)
                return std::unexpected(outcome.error());
            if (*outcome)
                return Result<Result<std::int32_t>>(std::in_place, std::move(**outcome));
        }
    }

    using FrameOutcome = Result<std::optional<Result<std::int32_t>>>;
    static FrameOutcome keep_reading() { return std::optional<Result<std::int32_t>>(); }

    FrameOutcome handle(const frame::Started& started) {
        trace_stage("command_started");
        StatusReport running = success_report(Operation::run, StatusState::running, "running",
                                              "Command protection is active.");
        running.process_id = started.process_id;
        if (auto published = publish_status(policy_.status_file, running); !published)
            return std::unexpected(published.error());
        return keep_reading();
    }
    FrameOutcome handle(const frame::Progress& progress) {
        trace_stage("worker_" + progress.stage);
        return keep_reading();
    }
    FrameOutcome handle(const frame::Stdout& output) {
        return forwarded(write_standard_output(output.data), "Could not forward command output");
    }
    FrameOutcome handle(const frame::Stderr& output) {
        return forwarded(write_standard_error(output.data),
                         "Could not forward command error output");
    }
    // The command's output reached the runner's own stream, or the run ends with the I/O error.
    static FrameOutcome forwarded(std::expected<void, std::uint32_t> written,
                                  std::string_view context) {
        if (!written)
            return std::unexpected(io_failure(context, written.error()));
        return keep_reading();
    }
    FrameOutcome handle(const frame::Exited& exited) {
        trace_stage("command_exited_" + std::to_string(exited.exit_code));
        return std::optional<Result<std::int32_t>>(exited.exit_code);
    }
    FrameOutcome handle(const frame::Failed& failed) {
        return std::optional<Result<std::int32_t>>(
            std::unexpected(Failure{failed.code, failed.message, exit_code::internal}));
    }

    // Gives back what the run still holds, then reports the failure.
    std::int32_t fail(const Failure& failure) {
        if (worker_) {
            worker_->process.reset();
            worker_->job.reset();  // its last handle: the job ends the worker and all it started
        }
        pipe_.reset();
        remove_temp_directory();
        if (grant_)
            (void)grant_->release();
        drop_record_when_nothing_is_left();
        if (auto published =
                publish_status(policy_.status_file, failed_report(Operation::run, failure));
            !published)
            print_error_line(published.error());
        print_error_line(failure);
        return failure.exit_code;
    }

    WideView state_dir_;
    const SandboxPolicy& policy_;
    const LoadedSetup& setup_;
    const std::vector<std::string>& command_;
    std::optional<WorkspaceGrant> grant_;
    std::optional<RunRecordFile> record_;
    std::optional<WideString> temp_directory_;
    UniqueHandle pipe_;
    std::optional<LaunchedWorker> worker_;
};

}  // namespace

std::int32_t run_operation(WideView state_dir, WideView policy_path,
                           const std::vector<std::string>& command) {
    const auto policy = read_policy(policy_path);
    if (!policy) {
        print_error_line(policy.error());
        return policy.error().exit_code;
    }
    if (auto valid = validate_policy(*policy); !valid)
        return report_early_failure(*policy, valid.error());
    const auto setup = load_setup(state_dir);
    if (!setup)
        return report_early_failure(*policy, setup.error());
    return Runner(state_dir, *policy, *setup, command).run();
}

}  // namespace quarvel
