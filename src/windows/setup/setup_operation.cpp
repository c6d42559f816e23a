#include "windows/setup/setup_operation.h"

#include "platform/directory_tree.h"
#include "platform/unique_resource.h"
#include "platform/win32.h"
#include "platform/windows_path.h"
#include "windows/runner/grant_recovery.h"
#include "windows/security/account_lookup.h"
#include "windows/security/os_failure.h"
#include "windows/security/pinned_path.h"
#include "windows/security/protected_directories.h"
#include "windows/security/sid_conversion.h"
#include "windows/security/token_information.h"
#include "windows/setup/account_password.h"
#include "windows/setup/account_verification.h"
#include "windows/setup/builtin_users.h"
#include "windows/setup/credential_protection.h"
#include "windows/setup/hex_text.h"
#include "windows/setup/offline_rule.h"
#include "windows/setup/profile_initialization.h"
#include "windows/setup/protected_accounts.h"
#include "windows/setup/setup_clock.h"
#include "windows/setup/setup_owner.h"

namespace quarvel {
namespace {

Result<UniqueHandle> open_process_identity() {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return std::unexpected(os_failure("token_open_failed", "Could not open process identity."));
    return checked_handle(token.release(), "token_open_failed", "Could not open process identity.");
}

Result<void> require_elevation() {
    auto token = open_process_identity();
    if (!token)
        return std::unexpected(token.error());
    TOKEN_ELEVATION elevation{};
    DWORD length = 0;
    if (!GetTokenInformation(token->get(), TokenElevation, &elevation, sizeof(elevation), &length))
        return std::unexpected(
            os_failure("elevation_check_failed", "Could not verify setup authorization."));
    if (elevation.TokenIsElevated == 0)
        return std::unexpected(
            fixed_failure("administrator_required",
                          "Windows command protection setup requires administrator approval.",
                          exit_code::internal));
    return {};
}

// Made if needed, refused when it is a link or junction, and held open until its access list
// is written: setup is about to give it an access list that guards the passwords, which must
// land on the directory itself.
Result<PinnedPath> prepare_state_directory(WideView state_dir) {
    if (auto created = create_directory_tree(state_dir); !created)
        return std::unexpected(
            io_failure("Could not create protection settings directory", created.error()));
    return pin_path(state_dir, {"Could not inspect protection settings directory",
                                "Protection settings directory cannot be a symbolic link."});
}

// The SID of the user this process runs as, in text form. Read even when --owner-sid names
// the owner: a process that cannot say who it is does not set up anything.
Result<std::string> current_user_sid() {
    auto token = open_process_identity();
    if (!token)
        return std::unexpected(token.error());
    DWORD size = 0;
    if (GetTokenInformation(token->get(), TokenUser, nullptr, 0, &size) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return std::unexpected(
            os_failure("owner_lookup_failed", "Could not size current account information."));
    std::vector<std::uint64_t> storage(token_buffer_words(size));
    if (!GetTokenInformation(token->get(), TokenUser, storage.data(), size, &size))
        return std::unexpected(
            os_failure("owner_lookup_failed", "Could not read current account information."));
    auto user = copy_sid(reinterpret_cast<const TOKEN_USER*>(storage.data())->User.Sid);
    if (!user)
        return std::unexpected(user.error());
    return sid_to_string(user->get());
}

// A given owner is judged before anything is made, so that a refused owner leaves no directory,
// group or account behind. Text that is no SID is left to the owner's conversion after the group
// exists, where setup reports it; so is an owner whose conversion fails here for another reason,
// which is judged once it converts. The result says whether the owner was judged.
Result<bool> judge_given_owner(const std::optional<std::string>& owner_sid) {
    if (!owner_sid)
        return false;
    auto owner = sid_from_string(*owner_sid);
    if (!owner)
        return false;
    if (auto judged = require_user_account_owner(*owner); !judged)
        return std::unexpected(std::move(judged.error()));
    return true;
}

Result<std::string> protected_hex(const std::string& password) {
    auto blob = protect_password(password);
    if (!blob)
        return std::unexpected(blob.error());
    return encode_hex(*blob);
}

WideString state_file(WideView state_dir, std::string_view name) {
    return join_path(state_dir, to_wide(name));
}

struct Account {
    std::string_view name;
    std::string password;
};

}  // namespace

Result<LoadedSetup> run_setup(WideView state_dir, const std::optional<std::string>& owner_sid) {
    if (auto authorised = require_elevation(); !authorised)
        return std::unexpected(authorised.error());
    if (auto absolute = require_absolute_state_dir(state_dir); !absolute)
        return std::unexpected(absolute.error());
    auto owner_judged = judge_given_owner(owner_sid);
    if (!owner_judged)
        return std::unexpected(owner_judged.error());
    // Held open for the whole of setup: its list is written, and the settings files are
    // written into it, while it cannot be renamed or replaced.
    const auto state_directory = prepare_state_directory(state_dir);
    if (!state_directory)
        return std::unexpected(state_directory.error());
    if (auto group = ensure_group(); !group)
        return std::unexpected(group.error());
    auto group_sid = lookup_account_sid(kProtectedGroupName);
    if (!group_sid)
        return std::unexpected(group_sid.error());

    auto current_user = current_user_sid();
    if (!current_user)
        return std::unexpected(current_user.error());
    const std::string owner_text = owner_sid.value_or(*current_user);
    auto owner = sid_from_string(owner_text);
    if (!owner)
        return std::unexpected(owner.error());
    if (!*owner_judged)
        if (auto judged = require_user_account_owner(*owner); !judged)
            return std::unexpected(judged.error());
    if (auto secured = protect_state_directory(*state_directory, owner_text, group_sid->get());
        !secured)
        return std::unexpected(secured.error());
    // Runs that were killed left grants behind; setup takes them back too. Whatever it cannot
    // take back now stays recorded, and setup goes on.
    recover_dead_runs_locked(state_dir);

    Account accounts[] = {{kOnlineAccountName, {}}, {kOfflineAccountName, {}}};
    for (auto& account : accounts) {
        auto password = generate_password();
        if (!password)
            return std::unexpected(password.error());
        account.password = std::move(*password);
    }
    for (const auto& account : accounts)
        if (auto ensured = ensure_account(account.name, account.password); !ensured)
            return std::unexpected(ensured.error());
    for (const auto& account : accounts)
        if (auto added = add_group_member(kProtectedGroupName, account.name); !added)
            return std::unexpected(added.error());
    for (const auto& account : accounts)
        if (auto added = add_to_builtin_users(account.name); !added)
            return std::unexpected(added.error());
    for (const auto& account : accounts)
        if (auto verified =
                verify_account_sign_in(account.name, account.password, *group_sid, *owner);
            !verified)
            return std::unexpected(verified.error());
    for (const auto& account : accounts)
        if (auto initialised = initialize_profile(account.name, account.password); !initialised)
            return std::unexpected(initialised.error());

    auto online_sid = lookup_account_sid_text(kOnlineAccountName);
    if (!online_sid)
        return std::unexpected(online_sid.error());
    auto offline_sid = lookup_account_sid_text(kOfflineAccountName);
    if (!offline_sid)
        return std::unexpected(offline_sid.error());
    if (auto rule = ensure_offline_rule(*offline_sid); !rule)
        return std::unexpected(rule.error());
    auto group_text = sid_to_string(group_sid->get());
    if (!group_text)
        return std::unexpected(group_text.error());
    auto created_at = seconds_since_unix_epoch();
    if (!created_at)
        return std::unexpected(created_at.error());

    SetupSecrets secrets;
    AccountSecret* secret_of[] = {&secrets.online, &secrets.offline};
    for (std::size_t k = 0; k < 2; ++k) {
        auto protected_password = protected_hex(accounts[k].password);
        if (!protected_password)
            return std::unexpected(protected_password.error());
        *secret_of[k] =
            AccountSecret{std::string(accounts[k].name), std::move(*protected_password)};
    }
    const SetupMarker marker{kSetupVersion, *group_text, *online_sid,
                             *offline_sid,  owner_text,  *created_at};
    if (auto written = write_settings_file(state_file(state_dir, kSecretsFileName), secrets);
        !written)
        return std::unexpected(written.error());
    if (auto written = write_settings_file(state_file(state_dir, kMarkerFileName), marker);
        !written)
        return std::unexpected(written.error());
    return load_setup(state_dir);
}

}  // namespace quarvel
