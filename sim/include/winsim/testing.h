#pragma once
// Test-only controls of the simulated host: fault injection and inspection. Production code
// never includes this header.

#include <winsim/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace winsim {

enum class FaultKind {
    // The call fails. `value` is the last error for calls that report through GetLastError, and
    // the returned status for calls that return one (NTSTATUS, HRESULT, NET_API_STATUS, the
    // DWORD result of the ACL calls).
    fail,
    // The call succeeds but hands back the odd result that some callers must still check: a
    // null handle, zero bytes transferred, a zero size, ERROR_NOT_ALL_ASSIGNED. Each call that
    // supports a quirk documents which one in sim/README.md.
    quirk,
};

struct Fault {
    std::string function;
    std::uint64_t nth_call = 1;  // 1 = the next call of `function` after arming
    std::uint32_t value = 0;
    FaultKind kind = FaultKind::fail;
};

// Arms one fault in this process. Faults can also be armed for a whole process through the
// environment variable WINSIM_FAULTS ("Function:nth:value[:quirk],..."), which the simulated
// host reads at the first simulated call and then removes so that children do not inherit it.
void inject_fault(Fault fault);
void inject_fault(std::string_view function, std::uint32_t value, std::uint64_t nth_call = 1,
                  FaultKind kind = FaultKind::fail);
void clear_faults();
// Faults armed but not yet hit.
std::size_t pending_fault_count();

// Handles open in this process's table (standard handles included once created).
std::size_t open_handle_count();
// LocalAlloc blocks (including those the simulated host allocates for the caller, such as
// CommandLineToArgvW's) not yet released with LocalFree.
std::size_t outstanding_local_allocations();

// The directory of the simulated machine this process uses.
std::string machine_directory();

}  // namespace winsim
