#pragma once
// The two files setup leaves in the state directory: setup.json, the marker of which group and
// accounts were prepared and when, and credentials.json, the accounts' protected passwords.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

#include "cli/failure.h"
#include "platform/wide_text.h"
#include "windows/setup/account_secret.h"

namespace quarvel {

// The format and procedure version setup writes and loading requires.
inline constexpr std::uint32_t kSetupVersion = 2;

inline constexpr std::string_view kMarkerFileName = "setup.json";
inline constexpr std::string_view kSecretsFileName = "credentials.json";

// setup.json, members in the order they are written.
struct SetupMarker {
    std::uint32_t version = kSetupVersion;
    std::string group_sid;
    std::string online_sid;
    std::string offline_sid;
    std::string owner_sid;
    std::uint64_t created_at = 0;  // whole seconds since 1970-01-01 00:00:00 UTC

    bool operator==(const SetupMarker&) const = default;
};

// credentials.json, members in the order they are written.
struct SetupSecrets {
    std::uint32_t version = kSetupVersion;
    AccountSecret online;
    AccountSecret offline;

    bool operator==(const SetupSecrets&) const = default;
};

// Strict readers: exactly the type's keys (any order, each once, none missing), strings as JSON
// strings, `version` 0 to 2^32-1 and `created_at` 0 to 2^64-1 as JSON integers, one value with
// only whitespace around it, valid UTF-8. The error is the reader's description with the line
// and column, naming the field where there is one.
std::expected<SetupMarker, std::string> parse_setup_marker(std::string_view bytes);
std::expected<SetupSecrets, std::string> parse_setup_secrets(std::string_view bytes);

// Compact JSON, keys in declaration order; the writer's description when a string is not UTF-8.
std::expected<std::string, std::string> setup_marker_json(const SetupMarker& marker);
std::expected<std::string, std::string> setup_secrets_json(const SetupSecrets& secrets);

// Success when the state directory path is absolute in the Windows sense (a prefix and a root:
// \state and C:state are not). Otherwise invalid_request, "Protection settings directory must
// be an absolute path.", exit code 64: setup and loading both refuse it before anything else.
Result<void> require_absolute_state_dir(WideView state_dir);

// Where a settings file is written before it replaces `target`: the file name's extension (what
// follows its last dot, unless that dot is the name's first character) becomes "tmp-<pid>", and
// a name without one gets ".tmp-<pid>": setup.json -> setup.tmp-4242.
WideString settings_temporary_path(WideView target, std::uint32_t process_id);

// Serialises the document and puts it at `target`: written whole to the temporary path, the old
// target (when its metadata can be read, links followed) deleted, the temporary file renamed onto
// the target. Failures: settings_serialization_failed (70); io_error (74) with the context
// "Could not write protection settings", "Could not replace protection settings" or "Could not
// publish protection settings". After a failed delete or rename the temporary file stays.
Result<void> write_settings_file(WideView target, const std::variant<SetupMarker, SetupSecrets>& document);

}  // namespace quarvel
