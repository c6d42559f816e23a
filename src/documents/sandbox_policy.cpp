#include "documents/sandbox_policy.h"

#include <algorithm>
#include <utility>

#include "documents/json_fields.h"
#include "platform/whole_file.h"
#include "platform/windows_path.h"

namespace quarvel {
namespace {

constexpr std::string_view kNetworkWords[] = {"enabled", "disabled"};

Failure not_absolute(std::string_view key) {
    return formatted_failure("invalid_request", exit_code::invalid_request, "Policy field ", key,
                             " must be an absolute path.");
}

bool all_absolute(const std::vector<WideString>& paths) {
    return std::ranges::all_of(
        paths, [](const WideString& path) { return is_absolute_windows_path(path); });
}

}  // namespace

Result<SandboxPolicy> read_policy(WideView path) {
    const auto bytes = read_whole_file(path);
    if (!bytes)
        return std::unexpected(io_failure("Could not read policy", bytes.error()));
    auto policy = parse_policy(*bytes);
    if (!policy)
        return std::unexpected(formatted_failure("invalid_request", exit_code::invalid_request,
                                                 "Invalid policy JSON: ", policy.error()));
    return std::move(*policy);
}

std::expected<SandboxPolicy, std::string> parse_policy(std::string_view bytes) {
    const auto document = read_json_document(bytes);
    if (!document)
        return std::unexpected(document.error());
    return policy_from_json(*document);
}

std::expected<SandboxPolicy, std::string> policy_from_json(const JsonValue& value) {
    JsonFields fields(value,
                      {"version", "cwd", "writable_roots", "readable_roots", "runtime_dir",
                       "network", "status_file"},
                      UnknownKeys::reject);
    SandboxPolicy policy;
    policy.version = fields.optional_u32("version", kSupportedPolicyVersion);
    policy.cwd = fields.required_path("cwd");
    policy.writable_roots = fields.optional_path_list("writable_roots");
    policy.readable_roots = fields.optional_path_list("readable_roots");
    policy.runtime_dir = fields.required_path("runtime_dir");
    policy.network = static_cast<NetworkMode>(
        fields.optional_choice("network", {kNetworkWords[0], kNetworkWords[1]}, 0));
    policy.status_file = fields.required_path("status_file");
    return fields.finish(std::move(policy));
}

void write_policy(JsonWriter& out, const SandboxPolicy& policy) {
    out.begin_object();
    out.key("version").unsigned_number(policy.version);
    out.key("cwd").path(policy.cwd);
    out.key("writable_roots").begin_array();
    for (const auto& root : policy.writable_roots)
        out.path(root);
    out.end_array();
    out.key("readable_roots").begin_array();
    for (const auto& root : policy.readable_roots)
        out.path(root);
    out.end_array();
    out.key("runtime_dir").path(policy.runtime_dir);
    out.key("network").string(kNetworkWords[static_cast<std::size_t>(policy.network)]);
    out.key("status_file").path(policy.status_file);
    out.end_object();
}

Result<void> validate_policy(const SandboxPolicy& policy) {
    if (policy.version != kSupportedPolicyVersion)
        return std::unexpected(formatted_failure("invalid_request", exit_code::invalid_request,
                                                 "Unsupported policy version: ", policy.version,
                                                 "."));
    const std::pair<std::string_view, const WideString*> single_paths[] = {
        {"cwd", &policy.cwd},
        {"runtime_dir", &policy.runtime_dir},
        {"status_file", &policy.status_file}};
    for (const auto& [key, path] : single_paths)
        if (!is_absolute_windows_path(*path))
            return std::unexpected(not_absolute(key));
    // A list fails as a whole: the message names the list, not the entry.
    if (!all_absolute(policy.writable_roots))
        return std::unexpected(not_absolute("writable_roots"));
    if (!all_absolute(policy.readable_roots))
        return std::unexpected(not_absolute("readable_roots"));
    return {};
}

}  // namespace quarvel
