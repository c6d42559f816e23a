// The kernel32 process calls of the simulated host.

#include <winsim/kernel.h>
#include <winsim/process.h>

#include <unistd.h>
#include <atomic>
#include <cstdlib>

#include "machine/faults.h"
#include "machine/object.h"
#include "machine/waitable.h"
#include "processes/exit_record.h"
#include "processes/opened_process.h"
#include "processes/process_identity.h"
#include "processes/process_launch.h"
#include "processes/process_object.h"
#include "processes/process_security.h"
#include "security/token.h"

namespace {

std::atomic<UINT>& error_mode() {
    static std::atomic<UINT> mode = [] {
        const char* inherited = std::getenv("WINSIM_ERROR_MODE");
        return inherited != nullptr ? static_cast<UINT>(std::strtoul(inherited, nullptr, 10)) : 0u;
    }();
    return mode;
}

winsim::ProcessLaunch launch_of(LPCWSTR application_name, LPWSTR command_line,
                                LPSECURITY_ATTRIBUTES process_attributes, BOOL inherit_handles,
                                DWORD creation_flags, LPVOID environment, LPCWSTR current_directory,
                                LPSTARTUPINFOW startup_info,
                                LPPROCESS_INFORMATION process_information,
                                const winsim::TokenState& token) {
    winsim::ProcessLaunch launch;
    launch.application_name = application_name;
    launch.command_line = command_line;
    launch.inherit_handles = inherit_handles;
    launch.creation_flags = creation_flags;
    launch.environment = environment;
    launch.current_directory = current_directory;
    launch.startup_info = startup_info;
    launch.process_information = process_information;
    launch.process_attributes = process_attributes;
    launch.token = token;
    return launch;
}

}  // namespace

BOOL CreateProcessW(LPCWSTR application_name, LPWSTR command_line,
                    LPSECURITY_ATTRIBUTES process_attributes, LPSECURITY_ATTRIBUTES,
                    BOOL inherit_handles, DWORD creation_flags, LPVOID environment,
                    LPCWSTR current_directory, LPSTARTUPINFOW startup_info,
                    LPPROCESS_INFORMATION process_information) {
    auto quirk = winsim::LaunchQuirk::none;
    if (!winsim::take_launch_fault("CreateProcessW", quirk))
        return FALSE;
    // The child gets a copy of this process's token as it is now.
    auto launch = launch_of(application_name, command_line, process_attributes, inherit_handles,
                            creation_flags, environment, current_directory, startup_info,
                            process_information, winsim::process_token_object()->snapshot());
    launch.quirk = quirk;
    return winsim::launch_process(launch);
}

BOOL CreateProcessAsUserW(HANDLE token, LPCWSTR application_name, LPWSTR command_line,
                          LPSECURITY_ATTRIBUTES process_attributes, LPSECURITY_ATTRIBUTES,
                          BOOL inherit_handles, DWORD creation_flags, LPVOID environment,
                          LPCWSTR current_directory, LPSTARTUPINFOW startup_info,
                          LPPROCESS_INFORMATION process_information) {
    auto quirk = winsim::LaunchQuirk::none;
    if (!winsim::take_launch_fault("CreateProcessAsUserW", quirk))
        return FALSE;
    const auto token_object = winsim::object_as<winsim::TokenObject>(token);
    if (!token_object)
        return winsim::fail(ERROR_INVALID_HANDLE);
    const auto state = token_object->snapshot();
    if (!state.primary)
        return winsim::fail(1349);  // ERROR_BAD_TOKEN_TYPE
    auto launch = launch_of(application_name, command_line, process_attributes, inherit_handles,
                            creation_flags, environment, current_directory, startup_info,
                            process_information, state);
    launch.quirk = quirk;
    return winsim::launch_process(launch);
}

UINT SetErrorMode(UINT mode) {
    return error_mode().exchange(mode);
}

UINT GetErrorMode() {
    return error_mode().load();
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    // Held for the whole wait: another thread may close the handle meanwhile.
    const auto object = winsim::object_from_handle(handle);
    if (auto fault = winsim::take_fault("WaitForSingleObject", object ? object->type_name() : "")) {
        if (fault->kind == winsim::FaultKind::fail) {
            SetLastError(fault->value);
            return WAIT_FAILED;
        }
        return fault->value;  // quirk: the given wait result
    }
    auto* waitable = dynamic_cast<winsim::Waitable*>(object.get());
    if (waitable == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return waitable->wait(milliseconds);
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exit_code) {
    WINSIM_FAIL_IF_INJECTED("GetExitCodeProcess");
    const auto object = winsim::object_as<winsim::ProcessObject>(process);
    if (!object || exit_code == nullptr)
        return winsim::fail(ERROR_INVALID_HANDLE);
    if (!object->grants_any(PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION))
        return winsim::fail(ERROR_ACCESS_DENIED);
    auto& target = object->process();
    *exit_code = target.has_ended() ? target.exit_code() : STILL_ACTIVE;
    return TRUE;
}

BOOL TerminateProcess(HANDLE process, UINT exit_code) {
    WINSIM_FAIL_IF_INJECTED("TerminateProcess");
    const auto object = winsim::object_as<winsim::ProcessObject>(process);
    if (!object)
        return winsim::fail(ERROR_INVALID_HANDLE);
    if (!object->grants(PROCESS_TERMINATE) || !object->process().terminate(exit_code))
        return winsim::fail(ERROR_ACCESS_DENIED);
    return TRUE;
}

void ExitProcess(UINT exit_code) {
    // Also for codes that fit in the POSIX exit status: a process that opened this one by its
    // id cannot wait for it and reads the code from the record.
    winsim::record_exit_code(::getpid(), winsim::process_start_time(::getpid()).value_or(0),
                             exit_code);
    ::_exit(static_cast<int>(exit_code & 0xFF));
}

HANDLE OpenProcess(DWORD desired_access, BOOL, DWORD process_id) {
    if (auto fault = winsim::take_fault("OpenProcess")) {
        SetLastError(fault->kind == winsim::FaultKind::fail ? fault->value : ERROR_SUCCESS);
        return nullptr;
    }
    const auto pid = static_cast<pid_t>(process_id);
    const auto start = process_id == 0 || pid <= 0 ? std::nullopt : winsim::process_start_time(pid);
    if (!start) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const auto granted = winsim::process_access(winsim::process_token_object()->snapshot(),
                                                winsim::process_dacl(pid, *start), desired_access);
    if (!granted) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return winsim::insert_handle(std::make_shared<winsim::ProcessObject>(
        std::make_shared<winsim::OpenedProcess>(pid, *start), *granted));
}

DWORD ResumeThread(HANDLE thread) {
    if (auto fault = winsim::take_fault("ResumeThread")) {
        if (fault->kind == winsim::FaultKind::fail) {
            SetLastError(fault->value);
            return 0xFFFFFFFF;
        }
    }
    const auto object = winsim::object_as<winsim::ThreadObject>(thread);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0xFFFFFFFF;
    }
    return object->child().release_gate();
}

DWORD GetProcessId(HANDLE process) {
    const auto object = winsim::object_as<winsim::ProcessObject>(process);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!object->grants_any(PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    return static_cast<DWORD>(object->process().pid());
}
