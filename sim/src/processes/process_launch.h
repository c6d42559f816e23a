#pragma once
// The one way the simulated host starts a process; CreateProcessW and the calls that start a
// process under another identity differ only in what they add to the child's environment.

#include <winsim/process.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "security/token.h"

namespace winsim {

// Odd successes a test can inject (FaultKind::quirk with the enumerator's value): the call
// succeeds but hands back a null handle. With a null process handle no process is created;
// with a null thread handle the process exists and the caller holds only its process handle.
enum class LaunchQuirk : std::uint32_t {
    none = 0,
    null_process_handle = 1,
    null_thread_handle = 2
};

struct ProcessLaunch {
    LPCWSTR application_name = nullptr;
    LPWSTR command_line = nullptr;
    BOOL inherit_handles = FALSE;
    DWORD creation_flags = 0;
    LPVOID environment = nullptr;
    LPCWSTR current_directory = nullptr;
    LPSTARTUPINFOW startup_info = nullptr;
    LPPROCESS_INFORMATION process_information = nullptr;
    // The new process object's descriptor when it carries one; otherwise the default DACL of
    // `token`, as Windows takes a default process descriptor's ACLs from the token the process
    // is created with.
    LPSECURITY_ATTRIBUTES process_attributes = nullptr;
    // The child's token. The child also gets the desktop named in startup_info and the error
    // mode (the caller's, or the default with CREATE_DEFAULT_ERROR_MODE).
    TokenState token;
    LaunchQuirk quirk = LaunchQuirk::none;
    // False when another process starts the child on the caller's behalf (the secondary logon
    // service of CreateProcessWithLogonW): it then joins none of the caller's jobs.
    bool join_creator_jobs = true;
    // The child gets a console of its own (CreateProcessWithLogonW): STARTF_USESTDHANDLES
    // handles are handed over whether inheritable or not, and without them its standard
    // handles lead nowhere instead of to the caller's.
    bool own_console = false;
    // When set, the image and the current directory are opened in this token's security
    // context instead of the caller's (CreateProcessWithLogonW opens them as the target user):
    // the image for reading and execution, the directory for traversal; a refusal fails the
    // call with ERROR_ACCESS_DENIED.
    const TokenState* open_as = nullptr;
};

// Takes the armed fault of a call that starts a process: false, with the injected last error
// set, when the fault fails the call; otherwise `quirk` is what an injected quirk asks for.
bool take_launch_fault(std::string_view function, LaunchQuirk& quirk);

// Creates the process as described in winsim/process.h. Returns FALSE with the last error set.
BOOL launch_process(const ProcessLaunch& launch);

}  // namespace winsim
