#include "processes/process_launch.h"

#include <winsim/kernel.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <sstream>

#include "files/file_security.h"
#include "machine/faults.h"
#include "machine/fd_object.h"
#include "machine/object.h"
#include "machine/wtf8.h"
#include "processes/command_line.h"
#include "processes/console_windows.h"
#include "processes/exit_record.h"
#include "processes/handle_inheritance.h"
#include "processes/job_registry.h"
#include "processes/launch_marker.h"
#include "processes/process_environment.h"
#include "processes/process_identity.h"
#include "processes/process_object.h"
#include "processes/process_program.h"
#include "processes/process_security.h"
#include "security/access_check.h"
#include "security/token.h"

namespace winsim {
namespace {

constexpr int kClosed = -1;     // the child gets no descriptor here
constexpr int kUnchanged = -2;  // the child keeps this process's descriptor
constexpr std::size_t kMaxInherited = 256;
constexpr std::size_t kPidDigits = 10;

// Everything the child needs, prepared before fork: after fork in a threaded process the child
// may only make async-signal-safe calls, so it allocates nothing.
struct ChildPlan {
    std::string program;
    std::vector<std::string> arguments;
    std::vector<std::string> environment;
    std::string directory;  // empty: keep this process's
    std::array<int, 3> standard{kUnchanged, kUnchanged, kUnchanged};
    std::vector<int> inherited;  // become descriptors 3, 4, ...
};

void ignore_broken_pipes() {
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

int standard_descriptor(HANDLE handle, bool inherit_handles, bool handed_over) {
    if (handle == nullptr || (!handed_over && (!inherit_handles || !is_inheritable(handle))))
        return kClosed;
    const auto object = std::dynamic_pointer_cast<FdObject>(object_from_handle(handle));
    return object ? object->fd() : kClosed;
}

std::u16string command_line_text(const ProcessLaunch& launch) {
    if (launch.command_line != nullptr)
        return launch.command_line;
    return launch.application_name;
}

// Runs in the child between fork and exec: waits at the gate, arranges the descriptors and
// starts the program. Only async-signal-safe calls.
// Writes this process's id, zero-padded, over the digits of the marker entry.
void mark_launched_pid(char* const* envp) {
    const std::size_t prefix = std::strlen(kLaunchedPidVariable);
    for (char* const* entry = envp; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, kLaunchedPidVariable, prefix) != 0 || (*entry)[prefix] != '=')
            continue;
        char* digit = *entry + prefix + 1 + kPidDigits;
        for (unsigned long pid = static_cast<unsigned long>(::getpid()); pid > 0; pid /= 10)
            *--digit = static_cast<char>('0' + pid % 10);
    }
}

[[noreturn]] void become_child(int gate, int report, const ChildPlan& plan, char* const* argv,
                               char* const* envp) {
    ::setpgid(0, 0);
    mark_launched_pid(envp);

    // First the descriptors: a copy of another child's gate or of a pipe end kept here while
    // waiting would hold that pipe open. Everything is copied out of the way, then placed.
    constexpr int kAbove = 1000;
    int standard[3];
    for (int k = 0; k < 3; ++k)
        standard[k] =
            plan.standard[k] >= 0 ? ::fcntl(plan.standard[k], F_DUPFD, kAbove) : plan.standard[k];
    const std::size_t count = std::min<std::size_t>(plan.inherited.size(), kMaxInherited);
    int inherited[kMaxInherited];
    for (std::size_t k = 0; k < count; ++k)
        inherited[k] = ::fcntl(plan.inherited[k], F_DUPFD, kAbove);
    const int report_copy = ::fcntl(report, F_DUPFD, kAbove);
    const int gate_copy = ::fcntl(gate, F_DUPFD, kAbove);

    for (int k = 0; k < 3; ++k) {
        if (standard[k] >= 0)
            ::dup2(standard[k], k);
        else if (standard[k] == kClosed)
            ::close(k);
    }
    for (std::size_t k = 0; k < count; ++k)
        ::dup2(inherited[k], 3 + static_cast<int>(k));
    const int report_fd = 3 + static_cast<int>(count);
    const int gate_fd = report_fd + 1;
    ::dup2(report_copy, report_fd);
    ::dup2(gate_copy, gate_fd);
    ::fcntl(report_fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(gate_fd, F_SETFD, FD_CLOEXEC);
    ::close_range(static_cast<unsigned>(gate_fd) + 1, ~0U, 0);

    char go = 0;
    ssize_t got;
    do
        got = ::read(gate_fd, &go, 1);
    while (got < 0 && errno == EINTR);
    if (got != 1)
        ::_exit(1);  // every holder of the creator's handles let go unresumed

    // The simulated host ignores SIGPIPE and threads may block signals; a program starts
    // with neither.
    ::signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    if (!plan.directory.empty() && ::chdir(plan.directory.c_str()) != 0) {
        const int error = errno;
        ::signal(SIGPIPE, SIG_IGN);  // the creator may no longer listen
        [[maybe_unused]] const auto written = ::write(report_fd, &error, sizeof error);
        ::_exit(127);
    }
    ::execve(plan.program.c_str(), argv, envp);
    const int error = errno;
    ::signal(SIGPIPE, SIG_IGN);
    [[maybe_unused]] const auto written = ::write(report_fd, &error, sizeof error);
    ::_exit(127);
}

std::vector<char*> pointers_to(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Reads the errno that the child reports when it could not start its program; 0 when it did.
int read_start_error(int report) {
    int error = 0;
    ssize_t got;
    do
        got = ::read(report, &error, sizeof error);
    while (got < 0 && errno == EINTR);
    return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

// The DACL of the new process object, or the error for a descriptor that is not one.
struct ProcessDescriptor {
    std::optional<std::vector<AccessEntry>> dacl;
    DWORD error = 0;
};

ProcessDescriptor process_descriptor(const ProcessLaunch& launch) {
    const auto* attributes = launch.process_attributes;
    if (attributes != nullptr && attributes->lpSecurityDescriptor != nullptr) {
        const auto description = read_security_descriptor(attributes->lpSecurityDescriptor);
        if (!description)
            return {std::nullopt, ERROR_INVALID_SECURITY_DESCR};
        if (!description->dacl)
            return {};
        return {map_generic_rights(*description->dacl, kProcessGenericMapping)};
    }
    if (!launch.token.default_dacl)
        return {};
    return {map_generic_rights(*launch.token.default_dacl, kProcessGenericMapping)};
}

// Whether `token` is granted `desired` on the file or directory at the host path (the final
// link followed, as opening it does).
bool token_may_open(const TokenState& token, const std::string& host_path, ACCESS_MASK desired) {
    const auto resolved = resolved_object_path(host_path, false);
    if (!resolved)
        return false;
    return object_access_granted(token, effective_security(*resolved), desired,
                                 kFileGenericMapping);
}

// The image is mapped for execution, which needs read and execute rights on the file; the
// current directory is opened for traversal. Windows opens both as the target user when
// another identity starts the process (the CreateProcessWithLogonW remarks).
DWORD check_opened_as(const TokenState& token, const std::string& program,
                      const std::string& directory) {
    if (!token_may_open(token, program, FILE_READ_DATA | FILE_EXECUTE | SYNCHRONIZE))
        return ERROR_ACCESS_DENIED;
    std::string current = directory;
    if (current.empty()) {
        char here[4096];
        if (::getcwd(here, sizeof here) == nullptr)
            return ERROR_ACCESS_DENIED;
        current = here;
    }
    if (!token_may_open(token, current, FILE_TRAVERSE | SYNCHRONIZE))
        return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

}  // namespace

bool take_launch_fault(std::string_view function, LaunchQuirk& quirk) {
    quirk = LaunchQuirk::none;
    const auto fault = take_fault(function);
    if (!fault)
        return true;
    if (fault->kind == FaultKind::fail) {
        SetLastError(fault->value);
        return false;
    }
    quirk = static_cast<LaunchQuirk>(fault->value);
    return true;
}

BOOL launch_process(const ProcessLaunch& launch) {
    if ((launch.application_name == nullptr && launch.command_line == nullptr) ||
        launch.startup_info == nullptr || launch.process_information == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    // "This flag cannot be used with the DETACHED_PROCESS flag." (CREATE_NEW_CONSOLE)
    if ((launch.creation_flags & CREATE_NEW_CONSOLE) != 0 &&
        (launch.creation_flags & DETACHED_PROCESS) != 0)
        return fail(ERROR_INVALID_PARAMETER);
    ignore_broken_pipes();
    if (launch.quirk == LaunchQuirk::null_process_handle) {
        *launch.process_information = {};
        return TRUE;
    }

    const std::u16string line = command_line_text(launch);
    const auto words = split_windows_command_line(line);
    const std::u16string program_name = launch.application_name != nullptr
                                            ? std::u16string(launch.application_name)
                                            : words.front();

    const auto descriptor = process_descriptor(launch);
    if (descriptor.error != 0)
        return fail(descriptor.error);
    const bool breaking_away = (launch.creation_flags & CREATE_BREAKAWAY_FROM_JOB) != 0;
    if (launch.join_creator_jobs && breaking_away && !breakaway_allowed())
        return fail(ERROR_ACCESS_DENIED);
    ChildPlan plan;
    const auto program = resolve_program(program_name);
    if (const auto* error = std::get_if<DWORD>(&program))
        return fail(*error);
    plan.program = std::get<std::string>(program);
    if (launch.current_directory != nullptr) {
        const auto directory = resolve_directory(launch.current_directory);
        if (const auto* error = std::get_if<DWORD>(&directory))
            return fail(*error);
        plan.directory = std::get<std::string>(directory);
    }
    if (launch.open_as != nullptr) {
        if (const DWORD refused = check_opened_as(*launch.open_as, plan.program, plan.directory);
            refused != ERROR_SUCCESS)
            return fail(refused);
    }
    for (const auto& word : words)
        plan.arguments.push_back(wtf8_from_utf16(word));

    const auto& startup = *launch.startup_info;
    if ((startup.dwFlags & STARTF_USESTDHANDLES) != 0) {
        const bool handed_over = launch.own_console;
        plan.standard = {
            standard_descriptor(startup.hStdInput, launch.inherit_handles, handed_over),
            standard_descriptor(startup.hStdOutput, launch.inherit_handles, handed_over),
            standard_descriptor(startup.hStdError, launch.inherit_handles, handed_over)};
    }
    const bool console_only = launch.own_console && (startup.dwFlags & STARTF_USESTDHANDLES) == 0;
    // What the simulated host itself reads in the child.
    std::vector<std::pair<std::string, std::string>> variables;
    variables.emplace_back("WINSIM_TOKEN", token_to_json(launch.token).dump());
    if (startup.lpDesktop != nullptr)
        variables.emplace_back("WINSIM_DESKTOP", wtf8_from_utf16(startup.lpDesktop));
    const UINT error_mode =
        (launch.creation_flags & CREATE_DEFAULT_ERROR_MODE) != 0 ? 0 : GetErrorMode();
    variables.emplace_back("WINSIM_ERROR_MODE", std::to_string(error_mode));
    variables.emplace_back("WINSIM_COMMAND_LINE", wtf8_from_utf16(line));
    std::string inherited_standard;
    for (int slot = 0; slot < 3; ++slot) {
        if (plan.standard[slot] < 0)
            continue;
        // Appended piece by piece: GCC 12 takes a prefix added through operator+ for an
        // overlapping copy at -O3.
        if (!inherited_standard.empty())
            inherited_standard += ',';
        inherited_standard += std::to_string(slot);
    }
    if (!inherited_standard.empty())
        variables.emplace_back(kInheritedStandardVariable, inherited_standard);
    if (launch.inherit_handles) {
        std::ostringstream passed;
        for (const auto& handle : inheritable_descriptors()) {
            if (plan.inherited.size() == kMaxInherited)
                break;
            if (!plan.inherited.empty())
                passed << ',';
            passed << std::hex << handle.value << '=' << std::dec << 3 + plan.inherited.size()
                   << ':' << handle.type;
            plan.inherited.push_back(handle.fd);
        }
        if (!plan.inherited.empty())
            variables.emplace_back(kInheritedHandlesVariable, passed.str());
    }
    // The child writes its own id over the zeros (see become_child).
    variables.emplace_back(kLaunchedPidVariable, std::string(kPidDigits, '0'));
    plan.environment = child_environment(
        launch.environment, (launch.creation_flags & CREATE_UNICODE_ENVIRONMENT) != 0, variables);
    auto argv = pointers_to(plan.arguments);
    auto envp = pointers_to(plan.environment);

    int gate[2];
    int report[2];
    if (::pipe2(gate, O_CLOEXEC) != 0)
        return fail(windows_error_from_errno(errno));
    if (::pipe2(report, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(gate[0]);
        ::close(gate[1]);
        return fail(windows_error_from_errno(error));
    }
    // What a hidden console gives a program that writes to it: nothing comes back.
    const int null_device = console_only ? ::open("/dev/null", O_RDWR | O_CLOEXEC) : -1;
    if (console_only)
        plan.standard.fill(null_device >= 0 ? null_device : kClosed);
    const pid_t pid = ::fork();
    if (pid == 0)
        become_child(gate[0], report[1], plan, argv.data(), envp.data());
    const int fork_error = errno;
    if (null_device >= 0)
        ::close(null_device);
    ::close(gate[0]);
    ::close(report[1]);
    if (pid < 0) {
        ::close(gate[1]);
        ::close(report[0]);
        return fail(windows_error_from_errno(fork_error));
    }
    ::setpgid(pid, pid);
    forget_exit_record(pid);
    // Before the child runs: from its first instruction on, others may try to open it.
    record_process_dacl(pid, process_start_time(pid).value_or(0), descriptor.dacl);
    // Before the child runs: a child that starts processes of its own must already be in
    // the jobs, or they could escape them. A child that cannot join them does not run at all.
    if (launch.join_creator_jobs && !join_creator_jobs(pid, breaking_away)) {
        const DWORD error = GetLastError();
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        ::close(gate[1]);
        ::close(report[0]);
        return fail(error);
    }

    if (opens_console_window(launch.creation_flags))
        record_console_window(pid, line, startup);

    auto child = std::make_shared<ChildProcess>(pid, gate[1]);
    if ((launch.creation_flags & CREATE_SUSPENDED) == 0) {
        child->release_gate();
        if (const int error = read_start_error(report[0]); error != 0) {
            ::close(report[0]);
            child->wait(INFINITE);
            return fail(windows_error_from_errno(error));
        }
    }
    ::close(report[0]);

    auto& information = *launch.process_information;
    information.hProcess =
        insert_handle(std::make_shared<ProcessObject>(child, PROCESS_ALL_ACCESS));
    information.hThread = launch.quirk == LaunchQuirk::null_thread_handle
                              ? nullptr
                              : insert_handle(std::make_shared<ThreadObject>(child));
    information.dwProcessId = static_cast<DWORD>(pid);
    information.dwThreadId = static_cast<DWORD>(pid);
    return TRUE;
}

}  // namespace winsim
