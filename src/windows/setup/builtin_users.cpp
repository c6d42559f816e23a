#include "windows/setup/builtin_users.h"

#include <vector>

#include "platform/wide_text.h"
#include "windows/security/os_failure.h"
#include "windows/security/sid_conversion.h"
#include "windows/setup/protected_accounts.h"

namespace quarvel {

Result<std::string> builtin_users_group_name() {
    constexpr std::string_view kCode = "account_lookup_failed";
    constexpr std::string_view kMessage = "Could not resolve built-in account group.";
    auto users = sid_from_string("S-1-5-32-545");
    if (!users)
        return std::unexpected(std::move(users.error()));

    DWORD name_size = 0;
    DWORD domain_size = 0;
    SID_NAME_USE use{};
    // Without buffers the call can only fail; what matters is that it fails for size alone.
    LookupAccountSidW(nullptr, users->get(), nullptr, &name_size, nullptr, &domain_size, &use);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return std::unexpected(os_failure(kCode, kMessage));

    std::vector<WCHAR> name(name_size);
    std::vector<WCHAR> domain(domain_size);
    if (!LookupAccountSidW(nullptr, users->get(), name.data(), &name_size, domain.data(),
                           &domain_size, &use))
        return std::unexpected(os_failure(kCode, kMessage));
    // The whole buffer is taken and its trailing zeros dropped, whatever size Windows reports.
    while (!name.empty() && name.back() == 0)
        name.pop_back();
    return narrow_lossy(WideView(name.data(), name.size()));
}

Result<void> add_to_builtin_users(std::string_view account) {
    auto group = builtin_users_group_name();
    if (!group)
        return std::unexpected(std::move(group.error()));
    return add_group_member(*group, account);
}

}  // namespace quarvel
