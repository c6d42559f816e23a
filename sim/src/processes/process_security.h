#pragma once
// Who may open a process: the security descriptor of each process object, kept where every
// process of the machine finds it (<machine>/processes/<pid>.json, with the start time that
// tells the process from a later one with the same id), and the access check of OpenProcess.

#include <winsim/process.h>
#include <winsim/security.h>

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "security/security_descriptor.h"
#include "security/token.h"

namespace winsim {

// What the generic rights mean for a process object (the kernel's process type mapping).
inline constexpr GenericMapping kProcessGenericMapping{
    STANDARD_RIGHTS_READ | PROCESS_VM_READ | PROCESS_QUERY_INFORMATION,
    STANDARD_RIGHTS_WRITE | PROCESS_CREATE_PROCESS | PROCESS_CREATE_THREAD | PROCESS_VM_OPERATION |
        PROCESS_VM_WRITE | PROCESS_DUP_HANDLE | PROCESS_TERMINATE | PROCESS_SET_QUOTA |
        PROCESS_SET_INFORMATION | PROCESS_SUSPEND_RESUME,
    STANDARD_RIGHTS_EXECUTE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, PROCESS_ALL_ACCESS};

// The rights a write-restricted token's restricting SIDs must grant as well: the generic write
// mapping and the standard rights that change the object (its DACL, owner, existence).
inline constexpr DWORD kProcessWriteRights =
    kProcessGenericMapping.write | DELETE | WRITE_DAC | WRITE_OWNER;

// Records the DACL (generic rights already mapped; absent: a null DACL) of the process that
// started at `start` as `pid`.
void record_process_dacl(pid_t pid, std::uint64_t start,
                         const std::optional<std::vector<AccessEntry>>& dacl);

// The DACL of the process that started at `start` as `pid`: its record, or for a process the
// simulated host did not start (one started from a shell) the default DACL of the machine's
// interactive administrator, mapped for a process.
std::optional<std::vector<AccessEntry>> process_dacl(pid_t pid, std::uint64_t start);

// The rights OpenProcess grants `token` for `desired` (generic rights mapped, and
// PROCESS_QUERY_LIMITED_INFORMATION with PROCESS_QUERY_INFORMATION), or nothing when the DACL
// refuses any of them. An enabled SeDebugPrivilege grants whatever is asked.
std::optional<DWORD> process_access(const TokenState& token,
                                    const std::optional<std::vector<AccessEntry>>& dacl,
                                    DWORD desired);

}  // namespace winsim
