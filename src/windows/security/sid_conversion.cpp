#include "windows/security/sid_conversion.h"

#include <vector>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "windows/security/os_failure.h"

namespace quarvel {

Result<OwnedSid> sid_from_string(std::string_view text) {
    const WideString wide = to_wide(text);
    LocalPtr<void> windows_sid;
    if (!ConvertStringSidToSidW(wide.c_str(), windows_sid.put()))
        return std::unexpected(os_failure("invalid_sid", "Could not parse security identifier."));
    // Windows' buffer is released when this returns, whether the copy worked or not.
    return copy_sid(windows_sid.get());
}

Result<OwnedSid> copy_sid(PSID sid) {
    const DWORD length = GetLengthSid(sid);
    if (length == 0)
        return std::unexpected(
            os_failure("sid_copy_failed", "Could not read security identifier."));
    std::vector<BYTE> bytes(length);
    if (!CopySid(length, bytes.data(), sid))
        return std::unexpected(
            os_failure("sid_copy_failed", "Could not copy security identifier."));
    return OwnedSid(std::move(bytes));
}

Result<std::string> sid_to_string(PSID sid) {
    LocalPtr<WCHAR> text;
    if (!ConvertSidToStringSidW(sid, text.put()))
        return std::unexpected(
            os_failure("sid_conversion_failed", "Could not format security identifier."));
    if (!text)
        return std::string();
    return narrow_lossy(text.get());
}

Result<std::string> standard_sid_text(std::string_view text) {
    auto sid = sid_from_string(text);
    if (!sid)
        return std::unexpected(std::move(sid.error()));
    return sid_to_string(sid->get());
}

}  // namespace quarvel
