#include <string>

#include "platform/win32.h"
#include "selftest/probe/sandbox_checks.h"
#include "windows/security/command_line_quoting.h"

namespace quarvel::selftest {
namespace {

struct Target {
    const char* id;
    const char* name;
    std::uint32_t ProbeRequest::*pid;
};

struct Right {
    const char* id;
    const char* name;
    DWORD access;
};

std::uint32_t try_open_process(std::uint32_t pid, DWORD access) {
    UniqueHandle process(OpenProcess(access, FALSE, pid));
    return process ? 0 : static_cast<std::uint32_t>(GetLastError());
}

// Starts the self-test's copy with one argument; the process, or the Windows error.
std::uint32_t start_copy(const ProbeRequest& request, const char* argument, DWORD flags,
                         PROCESS_INFORMATION& started) {
    auto line = build_command_line({request.program_copy, argument});
    if (!line)
        return ERROR_INVALID_PARAMETER;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    started = {};
    if (!CreateProcessW(nullptr, line->data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                        &startup, &started))
        return static_cast<std::uint32_t>(GetLastError());
    return 0;
}

}  // namespace

std::vector<CheckResult> process_access_checks(const ProbeRequest& request) {
    const Target targets[] = {
        {"runner", "the runner", &ProbeRequest::runner_pid},
        {"host", "the self-test", &ProbeRequest::host_pid},
        {"other_command", "the other run's command", &ProbeRequest::other_command_pid},
    };
    const Right rights[] = {
        {"vm_read", "PROCESS_VM_READ", PROCESS_VM_READ},
        {"vm_write", "PROCESS_VM_WRITE", PROCESS_VM_WRITE},
        {"terminate", "PROCESS_TERMINATE", PROCESS_TERMINATE},
        {"dup_handle", "PROCESS_DUP_HANDLE", PROCESS_DUP_HANDLE},
    };
    std::vector<CheckResult> checks;
    for (const auto& target : targets) {
        for (const auto& right : rights) {
            const std::string id = std::string("processes.") + target.id + "." + right.id;
            const std::string title = std::string("open ") + target.name + " for " + right.name;
            const std::uint32_t pid = request.*target.pid;
            if (pid == 0)
                checks.push_back(
                    not_reached(id, title, Expectation::denied, "its process id is unknown"));
            else
                checks.push_back(
                    attempt(id, title, Expectation::denied, try_open_process(pid, right.access)));
        }
    }
    return checks;
}

LingeringChild start_lingering_child(const ProbeRequest& request) {
    PROCESS_INFORMATION started{};
    const std::uint32_t error = start_copy(request, "__child", 0, started);
    LingeringChild child{
        UniqueHandle(started.hProcess), started.dwProcessId,
        attempt("processes.child.start", "start a child process", Expectation::allowed, error)};
    UniqueHandle thread(started.hThread);
    return child;
}

CheckResult lingering_child_still_runs(const LingeringChild& child) {
    const char* id = "processes.child.outlives_command";
    const char* title = "the child still runs when the command exits";
    if (!child.process)
        return not_reached(id, title, Expectation::holds, "no child was started");
    const DWORD waited = WaitForSingleObject(child.process.get(), 0);
    return property(id, title, waited == WAIT_TIMEOUT,
                    waited == WAIT_TIMEOUT ? "it runs" : "it has already ended");
}

CheckResult breakaway_check(const ProbeRequest& request) {
    PROCESS_INFORMATION started{};
    const std::uint32_t error = start_copy(request, "__exit", CREATE_BREAKAWAY_FROM_JOB, started);
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);
    return attempt("processes.breakaway.start", "start a child with CREATE_BREAKAWAY_FROM_JOB",
                   Expectation::denied, error);
}

}  // namespace quarvel::selftest
