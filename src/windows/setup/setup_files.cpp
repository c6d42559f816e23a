#include "windows/setup/setup_files.h"

#include "cli/json_writer.h"
#include "documents/json_fields.h"
#include "platform/file_attributes.h"
#include "platform/whole_file.h"
#include "platform/win32.h"
#include "platform/windows_path.h"

namespace quarvel {
namespace {

std::expected<AccountSecret, std::string> account_secret_from_json(const JsonValue& value) {
    JsonFields fields(value, {"username", "protected_password"}, UnknownKeys::reject);
    AccountSecret secret;
    secret.username = fields.required_string("username");
    secret.protected_password = fields.required_string("protected_password");
    return fields.finish(std::move(secret));
}

void write_account_secret(JsonWriter& out, const AccountSecret& secret) {
    out.begin_object();
    out.key("username").string(secret.username);
    out.key("protected_password").string(secret.protected_password);
    out.end_object();
}

bool is_separator(WCHAR c) {
    return c == u'\\' || c == u'/';
}

std::uint32_t last_error() {
    return static_cast<std::uint32_t>(GetLastError());
}

}  // namespace

std::expected<SetupMarker, std::string> parse_setup_marker(std::string_view bytes) {
    const auto document = read_json_document(bytes);
    if (!document)
        return std::unexpected(document.error());
    JsonFields fields(*document,
                      {"version", "group_sid", "online_sid", "offline_sid", "owner_sid",
                       "created_at"},
                      UnknownKeys::reject);
    SetupMarker marker;
    marker.version = fields.required_u32("version");
    marker.group_sid = fields.required_string("group_sid");
    marker.online_sid = fields.required_string("online_sid");
    marker.offline_sid = fields.required_string("offline_sid");
    marker.owner_sid = fields.required_string("owner_sid");
    marker.created_at = fields.required_u64("created_at");
    return fields.finish(std::move(marker));
}

std::expected<SetupSecrets, std::string> parse_setup_secrets(std::string_view bytes) {
    const auto document = read_json_document(bytes);
    if (!document)
        return std::unexpected(document.error());
    JsonFields fields(*document, {"version", "online", "offline"}, UnknownKeys::reject);
    SetupSecrets secrets;
    secrets.version = fields.required_u32("version");
    secrets.online = fields.required_nested<AccountSecret>("online", account_secret_from_json);
    secrets.offline = fields.required_nested<AccountSecret>("offline", account_secret_from_json);
    return fields.finish(std::move(secrets));
}

std::expected<std::string, std::string> setup_marker_json(const SetupMarker& marker) {
    JsonWriter out;
    out.begin_object();
    out.key("version").unsigned_number(marker.version);
    out.key("group_sid").string(marker.group_sid);
    out.key("online_sid").string(marker.online_sid);
    out.key("offline_sid").string(marker.offline_sid);
    out.key("owner_sid").string(marker.owner_sid);
    out.key("created_at").unsigned_number(marker.created_at);
    out.end_object();
    return std::move(out).finish();
}

std::expected<std::string, std::string> setup_secrets_json(const SetupSecrets& secrets) {
    JsonWriter out;
    out.begin_object();
    out.key("version").unsigned_number(secrets.version);
    out.key("online");
    write_account_secret(out, secrets.online);
    out.key("offline");
    write_account_secret(out, secrets.offline);
    out.end_object();
    return std::move(out).finish();
}

Result<void> require_absolute_state_dir(WideView state_dir) {
    if (!is_absolute_windows_path(state_dir))
        return std::unexpected(fixed_failure(
            "invalid_request", "Protection settings directory must be an absolute path.",
            exit_code::invalid_request));
    return {};
}

WideString settings_temporary_path(WideView target, std::uint32_t process_id) {
    std::size_t name_start = target.size();
    while (name_start > 0 && !is_separator(target[name_start - 1]))
        --name_start;
    // A drive-relative name (C:setup.json) starts after the drive.
    if (name_start == 0 && target.size() >= 2 && target[1] == u':')
        name_start = 2;
    const WideView name = target.substr(name_start);
    const std::size_t dot = name.rfind(u'.');
    const std::size_t stem_end =
        dot == WideView::npos || dot == 0 ? target.size() : name_start + dot;
    return WideString(target.substr(0, stem_end)) + to_wide(".tmp-" + std::to_string(process_id));
}

Result<void> write_settings_file(WideView target,
                                 const std::variant<SetupMarker, SetupSecrets>& document) {
    const auto text = std::visit(
        [](const auto& value) {
            if constexpr (std::is_same_v<std::decay_t<decltype(value)>, SetupMarker>)
                return setup_marker_json(value);
            else
                return setup_secrets_json(value);
        },
        document);
    if (!text)
        return std::unexpected(
            fixed_failure("settings_serialization_failed", text.error(), exit_code::internal));

    const WideString temporary = settings_temporary_path(target, GetCurrentProcessId());
    if (auto written = write_whole_file(temporary, *text); !written)
        return std::unexpected(io_failure("Could not write protection settings", written.error()));
    const WideString destination(target);
    if (attributes_following_links(destination) && !DeleteFileW(destination.c_str()))
        return std::unexpected(io_failure("Could not replace protection settings", last_error()));
    if (!MoveFileExW(temporary.c_str(), destination.c_str(), 0))
        return std::unexpected(io_failure("Could not publish protection settings", last_error()));
    return {};
}

}  // namespace quarvel
