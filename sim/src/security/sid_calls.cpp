// advapi32's SID calls.

#include <winsim/kernel.h>
#include <winsim/security.h>

#include <cstring>

#include "machine/faults.h"
#include "machine/object.h"
#include "machine/wtf8.h"
#include "security/sid.h"

BOOL ConvertStringSidToSidW(LPCWSTR string_sid, PSID* sid) {
    WINSIM_FAIL_IF_INJECTED("ConvertStringSidToSidW");
    if (string_sid == nullptr || sid == nullptr)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    const auto binary = winsim::sid_from_text(winsim::wtf8_from_utf16(string_sid));
    if (!binary)
        return winsim::fail(ERROR_INVALID_SID);
    void* block = LocalAlloc(LMEM_FIXED, binary->size());
    if (block == nullptr)
        return FALSE;
    std::memcpy(block, binary->data(), binary->size());
    *sid = block;
    return TRUE;
}

BOOL ConvertSidToStringSidW(PSID sid, LPWSTR* string_sid) {
    WINSIM_FAIL_IF_INJECTED("ConvertSidToStringSidW");
    if (sid == nullptr || string_sid == nullptr)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    if (!winsim::is_valid_sid(sid))
        return winsim::fail(ERROR_INVALID_SID);
    const std::u16string text = winsim::utf16_from_wtf8(winsim::sid_text(sid));
    const std::size_t bytes = (text.size() + 1) * sizeof(WCHAR);
    auto* block = static_cast<WCHAR*>(LocalAlloc(LMEM_FIXED, bytes));
    if (block == nullptr)
        return FALSE;
    std::memcpy(block, text.c_str(), bytes);
    *string_sid = block;
    return TRUE;
}

DWORD GetLengthSid(PSID sid) {
    if (auto fault = winsim::take_fault("GetLengthSid")) {
        SetLastError(fault->value);
        return 0;
    }
    if (!winsim::is_valid_sid(sid)) {
        SetLastError(ERROR_INVALID_SID);
        return 0;
    }
    return static_cast<DWORD>(winsim::sid_length(sid));
}

BOOL CopySid(DWORD destination_length, PSID destination, PSID source) {
    WINSIM_FAIL_IF_INJECTED("CopySid");
    if (!winsim::is_valid_sid(source))
        return winsim::fail(ERROR_INVALID_SID);
    const std::size_t length = winsim::sid_length(source);
    if (destination == nullptr || destination_length < length)
        return winsim::fail(ERROR_INSUFFICIENT_BUFFER);
    std::memmove(destination, source, length);
    return TRUE;
}

BOOL IsValidSid(PSID sid) {
    WINSIM_FAIL_IF_INJECTED("IsValidSid");
    return winsim::is_valid_sid(sid) ? TRUE : FALSE;
}
