#include "windows/security/account_lookup.h"

#include <algorithm>
#include <vector>

#include "platform/wide_text.h"
#include "windows/security/os_failure.h"
#include "windows/security/sid_conversion.h"

namespace quarvel {

Result<OwnedSid> lookup_account_sid(std::string_view name) {
    constexpr std::string_view kCode = "account_lookup_failed";
    const WideString wide_name = to_wide(name);
    DWORD sid_size = 0;
    DWORD domain_size = 0;
    SID_NAME_USE use{};
    // Without buffers the call can only fail; what matters is that it fails for size alone.
    LookupAccountNameW(nullptr, wide_name.c_str(), nullptr, &sid_size, nullptr, &domain_size, &use);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return std::unexpected(os_failure(kCode, "Could not size account security identifier."));

    std::vector<BYTE> sid(sid_size);
    std::vector<WCHAR> domain(domain_size);
    DWORD reported_size = sid_size;
    if (!LookupAccountNameW(nullptr, wide_name.c_str(), sid.data(), &reported_size, domain.data(),
                            &domain_size, &use))
        return std::unexpected(os_failure(kCode, "Could not resolve account security identifier."));
    sid.resize(std::min<std::size_t>(sid.size(), reported_size));
    return OwnedSid(std::move(sid));
}

Result<std::string> lookup_account_sid_text(std::string_view name) {
    auto sid = lookup_account_sid(name);
    if (!sid)
        return std::unexpected(std::move(sid.error()));
    return sid_to_string(sid->get());
}

}  // namespace quarvel
