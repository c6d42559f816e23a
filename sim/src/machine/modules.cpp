// kernel32's GetModuleHandleW in the simulated host.

#include <winsim/kernel.h>
#include <winsim/modules.h>

#include <cstdint>
#include <string_view>

#include "machine/ascii_text.h"
#include "machine/faults.h"
#include "machine/module_table.h"
#include "machine/wtf8.h"

namespace winsim {

HMODULE ntdll_module() {
    // Like a real module handle: an address no handle table entry and no allocation has.
    return reinterpret_cast<HMODULE>(std::uintptr_t{0x7FF800000000});
}

}  // namespace winsim

HMODULE GetModuleHandleW(LPCWSTR module_name) {
    if (auto fault = winsim::take_fault("GetModuleHandleW")) {
        SetLastError(fault->value);
        return nullptr;
    }
    if (module_name != nullptr) {
        const std::string name = winsim::wtf8_from_utf16(module_name);
        if (winsim::equal_ignoring_ascii_case(name, "ntdll.dll") ||
            winsim::equal_ignoring_ascii_case(name, "ntdll"))
            return winsim::ntdll_module();
    }
    // The program's own image (a null name) is not modelled.
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}
