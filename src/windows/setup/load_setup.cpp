#include "windows/setup/load_setup.h"

#include <array>

#include "platform/whole_file.h"
#include "platform/windows_path.h"
#include "windows/security/account_lookup.h"
#include "windows/security/sid_conversion.h"
#include "windows/setup/account_verification.h"
#include "windows/setup/credential_protection.h"
#include "windows/setup/offline_rule.h"

namespace quarvel {
namespace {

Failure setup_required(std::string_view message) {
    return fixed_failure("setup_required", message, exit_code::setup_required);
}

// One setup file read whole and parsed as its document. Any failure to read it, whatever
// Windows says, means there is no usable setup; a fault in it, that setup must write it again.
template <class Document>
Result<Document> load_document(WideView state_dir, std::string_view name,
                               std::expected<Document, std::string> (*parse)(std::string_view)) {
    const auto bytes = read_whole_file(join_path(state_dir, to_wide(name)));
    if (!bytes)
        return std::unexpected(setup_required("Windows command protection has not been set up."));
    auto document = parse(*bytes);
    if (!document)
        return std::unexpected(formatted_failure("setup_required", exit_code::setup_required,
                                                 "Protection settings are invalid: ",
                                                 document.error()));
    return std::move(*document);
}

// SID texts match when they are equal once ASCII letters are folded to lower case: the marker
// may say s-1-5-... where Windows says S-1-5-....
bool same_sid_text(std::string_view a, std::string_view b) {
    const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&](char x, char y) { return fold(x) == fold(y); });
}

Result<void> verify_sign_in(const AccountCredential& credential, const OwnedSid& owner) {
    auto group = lookup_account_sid(kProtectedGroupName);
    if (!group)
        return std::unexpected(group.error());
    return verify_account_sign_in(credential.username, credential.password, *group, owner);
}

}  // namespace

Result<LoadedSetup> load_setup(WideView state_dir) {
    if (auto absolute = require_absolute_state_dir(state_dir); !absolute)
        return std::unexpected(std::move(absolute.error()));
    auto marker = load_document(state_dir, kMarkerFileName, parse_setup_marker);
    if (!marker)
        return std::unexpected(marker.error());
    auto secrets = load_document(state_dir, kSecretsFileName, parse_setup_secrets);
    if (!secrets)
        return std::unexpected(secrets.error());
    if (marker->version != kSetupVersion || secrets->version != kSetupVersion)
        return std::unexpected(setup_required("Windows command protection setup must be refreshed."));

    // Every lookup runs before any comparison: a missing account is reported as missing, not
    // as changed.
    const std::array<std::string_view, 3> names = {kProtectedGroupName, secrets->online.username,
                                                   secrets->offline.username};
    const std::array<std::string_view, 3> recorded = {marker->group_sid, marker->online_sid,
                                                      marker->offline_sid};
    std::array<std::string, 3> found;
    for (std::size_t k = 0; k < names.size(); ++k) {
        auto sid = lookup_account_sid_text(names[k]);
        if (!sid)
            return std::unexpected(sid.error());
        found[k] = std::move(*sid);
    }
    for (std::size_t k = 0; k < names.size(); ++k)
        if (!same_sid_text(found[k], recorded[k]))
            return std::unexpected(setup_required(
                "Windows command protection accounts have changed and setup must be refreshed."));

    auto online = unprotect_credential(std::move(secrets->online));
    if (!online)
        return std::unexpected(online.error());
    auto offline = unprotect_credential(std::move(secrets->offline));
    if (!offline)
        return std::unexpected(offline.error());
    // Whoever owns the installation reads the stored passwords: no protected account may be,
    // or be in, the owner.
    auto owner = sid_from_string(marker->owner_sid);
    if (!owner)
        return std::unexpected(owner.error());
    for (const AccountCredential* credential : {&*online, &*offline})
        if (auto verified = verify_sign_in(*credential, *owner); !verified)
            return std::unexpected(verified.error());
    if (auto rule = verify_offline_rule(marker->offline_sid); !rule)
        return std::unexpected(rule.error());
    return LoadedSetup{std::move(*marker), std::move(*online), std::move(*offline)};
}

}  // namespace quarvel
