// advapi32's account lookups: names to SIDs and back, with Windows' size protocol.

#include <winsim/accounts.h>
#include <winsim/kernel.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "accounts/account_names.h"
#include "accounts/accounts.h"
#include "machine/ascii_text.h"
#include "machine/faults.h"
#include "machine/object.h"
#include "machine/wtf8.h"
#include "security/sid.h"

namespace {

// Only the local system is simulated: no name, or the machine's own.
bool names_local_system(LPCWSTR system_name, const winsim::AccountStore& store) {
    return system_name == nullptr || *system_name == u'\0' ||
           winsim::equal_ignoring_ascii_case(winsim::wtf8_from_utf16(system_name),
                                             store.computer_name);
}

// The text and its zero, when the caller's buffer holds `capacity` WCHARs.
bool fits(const std::u16string& text, LPWSTR buffer, DWORD capacity) {
    return buffer != nullptr && capacity >= text.size() + 1;
}

void copy_text(const std::u16string& text, LPWSTR buffer) {
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = u'\0';
}

}  // namespace

BOOL LookupAccountNameW(LPCWSTR system_name, LPCWSTR account_name, PSID sid, LPDWORD sid_size,
                        LPWSTR domain, LPDWORD domain_size, PSID_NAME_USE use) {
    WINSIM_FAIL_IF_INJECTED("LookupAccountNameW");
    if (account_name == nullptr || sid_size == nullptr || domain_size == nullptr || use == nullptr)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    const winsim::AccountStore store = winsim::read_accounts();
    if (!names_local_system(system_name, store))
        return winsim::fail(ERROR_INVALID_PARAMETER);
    const auto found = winsim::account_named(store, winsim::wtf8_from_utf16(account_name));
    if (!found)
        return winsim::fail(ERROR_NONE_MAPPED);

    const auto bytes = winsim::sid_from_text(found->sid).value_or(winsim::SidBytes{});
    const std::u16string domain_text = winsim::utf16_from_wtf8(found->domain);
    if (sid == nullptr || *sid_size < bytes.size() || !fits(domain_text, domain, *domain_size)) {
        *sid_size = static_cast<DWORD>(bytes.size());
        *domain_size = static_cast<DWORD>(domain_text.size() + 1);
        return winsim::fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(sid, bytes.data(), bytes.size());
    copy_text(domain_text, domain);
    *sid_size = static_cast<DWORD>(bytes.size());
    *domain_size = static_cast<DWORD>(domain_text.size());
    *use = found->use;
    return TRUE;
}

BOOL LookupAccountSidW(LPCWSTR system_name, PSID sid, LPWSTR name, LPDWORD name_size, LPWSTR domain,
                       LPDWORD domain_size, PSID_NAME_USE use) {
    WINSIM_FAIL_IF_INJECTED("LookupAccountSidW");
    if (name_size == nullptr || domain_size == nullptr || use == nullptr)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    if (sid == nullptr || !winsim::is_valid_sid(sid))
        return winsim::fail(ERROR_INVALID_SID);
    const winsim::AccountStore store = winsim::read_accounts();
    if (!names_local_system(system_name, store))
        return winsim::fail(ERROR_INVALID_PARAMETER);
    const auto found = winsim::account_with_sid(store, winsim::sid_text(sid));
    if (!found)
        return winsim::fail(ERROR_NONE_MAPPED);

    const std::u16string name_text = winsim::utf16_from_wtf8(found->name);
    const std::u16string domain_text = winsim::utf16_from_wtf8(found->domain);
    if (!fits(name_text, name, *name_size) || !fits(domain_text, domain, *domain_size)) {
        *name_size = static_cast<DWORD>(name_text.size() + 1);
        *domain_size = static_cast<DWORD>(domain_text.size() + 1);
        return winsim::fail(ERROR_INSUFFICIENT_BUFFER);
    }
    copy_text(name_text, name);
    copy_text(domain_text, domain);
    *name_size = static_cast<DWORD>(name_text.size());
    *domain_size = static_cast<DWORD>(domain_text.size());
    *use = found->use;
    return TRUE;
}
