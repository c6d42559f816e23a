#pragma once
// The modules the simulated host knows by handle.

#include <winsim/types.h>

namespace winsim {

// The handle GetModuleHandleW gives for ntdll.dll; FormatMessageW reads its message table.
HMODULE ntdll_module();

}  // namespace winsim
