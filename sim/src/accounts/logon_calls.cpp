// advapi32's sign-in calls: LogonUserW, and CreateProcessWithLogonW, whose child the
// secondary logon service starts on the caller's behalf.

#include <winsim/accounts.h>
#include <winsim/kernel.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "accounts/sign_in.h"
#include "machine/faults.h"
#include "machine/object.h"
#include "machine/wtf8.h"
#include "processes/process_launch.h"
#include "processes/system_directory.h"
#include "security/token.h"

namespace {

void add_variable(std::u16string& block, std::string_view name, std::u16string_view value) {
    block += winsim::utf16_from_wtf8(name);
    block += u'=';
    block += value;
    block += u'\0';
}

// The search path Windows gives a fresh account: the system's (Windows 10's default system
// Path) followed by the user's (the WindowsApps folder of the profile). Nothing of the caller's.
std::u16string account_search_path(const std::u16string& windows, const std::u16string& profile) {
    const std::u16string system32 = windows + u"\\System32";
    return system32 + u";" + windows + u";" + system32 + u"\\Wbem;" + system32 +
           u"\\WindowsPowerShell\\v1.0\\;" + system32 + u"\\OpenSSH\\;" + profile +
           u"\\AppData\\Local\\Microsoft\\WindowsApps;";
}

// The environment Windows makes from the account's profile. The host's library path stands in
// for the system's loader configuration so that host programs still start; nothing else of the
// caller's environment reaches the child.
std::u16string profile_environment(const winsim::SignIn& account, const std::u16string& profile) {
    std::u16string block;
    if (const char* value = std::getenv("LD_LIBRARY_PATH"); value != nullptr)
        add_variable(block, "LD_LIBRARY_PATH", winsim::utf16_from_wtf8(value));
    const std::u16string windows = winsim::windows_directory();
    const std::u16string name = winsim::utf16_from_wtf8(account.user.name);
    const std::u16string computer = winsim::utf16_from_wtf8(account.computer_name);
    add_variable(block, "Path", account_search_path(windows, profile));
    add_variable(block, "SystemRoot", windows);
    add_variable(block, "windir", windows);
    add_variable(block, "ComSpec", windows + u"\\System32\\cmd.exe");
    add_variable(block, "COMPUTERNAME", computer);
    add_variable(block, "USERDOMAIN", computer);
    add_variable(block, "USERNAME", name);
    add_variable(block, "USERPROFILE", profile);
    add_variable(block, "HOMEDRIVE", profile.substr(0, 2));
    add_variable(block, "HOMEPATH", profile.substr(2));
    add_variable(block, "APPDATA", profile + u"\\AppData\\Roaming");
    add_variable(block, "LOCALAPPDATA", profile + u"\\AppData\\Local");
    add_variable(block, "TEMP", profile + u"\\AppData\\Local\\Temp");
    add_variable(block, "TMP", profile + u"\\AppData\\Local\\Temp");
    block += u'\0';
    return block;
}

// The secondary logon service builds the new logon session from the logon SID of the caller's
// token; a token without one (LocalSystem's) cannot call the function at all.
bool caller_has_logon_sid() {
    const winsim::TokenState caller = winsim::process_token_object()->snapshot();
    for (const auto& group : caller.groups)
        if ((group.attributes & winsim::kGroupLogonId) == winsim::kGroupLogonId)
            return true;
    return false;
}

}  // namespace

BOOL LogonUserW(LPCWSTR user_name, LPCWSTR domain, LPCWSTR password, DWORD logon_type,
                DWORD logon_provider, PHANDLE token) {
    if (token == nullptr)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    *token = nullptr;
    if (auto fault = winsim::take_fault("LogonUserW")) {
        // Quirk: success without a token handle.
        SetLastError(fault->value);
        return fault->kind == winsim::FaultKind::quirk ? TRUE : FALSE;
    }
    if (logon_type != LOGON32_LOGON_INTERACTIVE || logon_provider > LOGON32_PROVIDER_WINNT50)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    auto signed_in = winsim::sign_in_interactively(user_name, domain, password);
    if (const auto* error = std::get_if<DWORD>(&signed_in))
        return winsim::fail(*error);
    *token = winsim::insert_handle(
        std::make_shared<winsim::TokenObject>(std::get<winsim::SignIn>(signed_in).token));
    return TRUE;
}

BOOL CreateProcessWithLogonW(LPCWSTR user_name, LPCWSTR domain, LPCWSTR password, DWORD logon_flags,
                             LPCWSTR application_name, LPWSTR command_line, DWORD creation_flags,
                             LPVOID environment, LPCWSTR current_directory,
                             LPSTARTUPINFOW startup_info,
                             LPPROCESS_INFORMATION process_information) {
    auto quirk = winsim::LaunchQuirk::none;
    if (!winsim::take_launch_fault("CreateProcessWithLogonW", quirk))
        return FALSE;
    if (user_name == nullptr || startup_info == nullptr || process_information == nullptr ||
        (logon_flags != 0 && logon_flags != LOGON_WITH_PROFILE))
        return winsim::fail(ERROR_INVALID_PARAMETER);
    if (!caller_has_logon_sid())
        return winsim::fail(ERROR_ACCESS_DENIED);
    auto signed_in = winsim::sign_in_interactively(user_name, domain, password);
    if (const auto* error = std::get_if<DWORD>(&signed_in))
        return winsim::fail(*error);
    const auto& account = std::get<winsim::SignIn>(signed_in);

    std::u16string profile = u"C:\\Users\\" + winsim::utf16_from_wtf8(account.user.name);
    if ((logon_flags & LOGON_WITH_PROFILE) != 0) {
        auto ensured = winsim::ensure_profile(account.user);
        if (!ensured)
            return FALSE;  // the profile could not be made; the last error says why
        profile = std::move(*ensured);
    } else if (!account.user.profile.empty())
        profile = winsim::utf16_from_wtf8(account.user.profile);
    std::u16string block;
    winsim::ProcessLaunch launch;
    // "enabled by default - even if you do not set the flag, the system functions as if it
    // were set" (the function's dwCreationFlags).
    launch.creation_flags =
        creation_flags | CREATE_DEFAULT_ERROR_MODE | CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP;
    launch.environment = environment;
    if (environment == nullptr) {
        block = profile_environment(account, profile);
        launch.environment = block.data();
        launch.creation_flags |= CREATE_UNICODE_ENVIRONMENT;
    }
    launch.application_name = application_name;
    launch.command_line = command_line;
    launch.inherit_handles = FALSE;
    launch.current_directory = current_directory;
    launch.startup_info = startup_info;
    launch.process_information = process_information;
    launch.join_creator_jobs = false;
    launch.own_console = true;
    launch.quirk = quirk;
    launch.token = account.token;
    launch.open_as = &account.token;
    return winsim::launch_process(launch);
}
