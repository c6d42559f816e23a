// advapi32's security descriptor calls.

#include <winsim/kernel.h>
#include <winsim/security_descriptor.h>

#include <cstring>

#include "machine/faults.h"
#include "machine/object.h"
#include "machine/wtf8.h"
#include "security/sddl.h"

BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL* present, PACL* dacl,
                               BOOL* defaulted) {
    WINSIM_FAIL_IF_INJECTED("GetSecurityDescriptorDacl");
    if (descriptor == nullptr || present == nullptr || dacl == nullptr || defaulted == nullptr)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    auto* bytes = static_cast<BYTE*>(descriptor);
    if (bytes[0] != SECURITY_DESCRIPTOR_REVISION)
        return winsim::fail(ERROR_UNKNOWN_REVISION);
    WORD control = 0;
    std::memcpy(&control, bytes + 2, sizeof(control));
    *present = (control & SE_DACL_PRESENT) != 0 ? TRUE : FALSE;
    if (*present == FALSE)
        return TRUE;
    *defaulted = (control & SE_DACL_DEFAULTED) != 0 ? TRUE : FALSE;
    if ((control & SE_SELF_RELATIVE) != 0) {
        SECURITY_DESCRIPTOR_RELATIVE header;
        std::memcpy(&header, bytes, sizeof(header));
        *dacl = header.Dacl == 0 ? nullptr : reinterpret_cast<PACL>(bytes + header.Dacl);
    } else {
        *dacl = static_cast<PISECURITY_DESCRIPTOR>(descriptor)->Dacl;
    }
    return TRUE;
}

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          PULONG size) {
    WINSIM_FAIL_IF_INJECTED("ConvertStringSecurityDescriptorToSecurityDescriptorW");
    if (text == nullptr || descriptor == nullptr)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    if (revision != SDDL_REVISION_1)
        return winsim::fail(ERROR_UNKNOWN_REVISION);
    const auto description = winsim::parse_sddl(winsim::wtf8_from_utf16(text));
    if (!description)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    const auto block = winsim::self_relative_descriptor(*description);
    if (!block)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    void* memory = LocalAlloc(LMEM_FIXED, block->size());
    if (memory == nullptr)
        return FALSE;
    std::memcpy(memory, block->data(), block->size());
    *descriptor = memory;
    if (size != nullptr)
        *size = static_cast<ULONG>(block->size());
    return TRUE;
}
