#include "documents/worker_request.h"

#include "cli/json_writer.h"
#include "documents/json_fields.h"

namespace quarvel {

std::expected<std::string, std::string> write_worker_request(const WorkerRequest& request) {
    JsonWriter out;
    out.begin_object();
    out.key("version").unsigned_number(request.version);
    out.key("policy");
    write_policy(out, request.policy);
    out.key("command").begin_array();
    for (const auto& word : request.command)
        out.string(word);
    out.end_array();
    out.key("account_sid").string(request.account_sid);
    out.key("base_sid").string(request.base_sid);
    out.key("capability_sid").string(request.capability_sid);
    out.key("trace").boolean(request.trace);
    out.end_object();
    return std::move(out).finish();
}

std::expected<WorkerRequest, std::string> parse_worker_request(std::string_view bytes) {
    const auto document = read_json_document(bytes);
    if (!document)
        return std::unexpected(document.error());
    JsonFields fields(
        *document,
        {"version", "policy", "command", "account_sid", "base_sid", "capability_sid", "trace"},
        UnknownKeys::reject);
    WorkerRequest request;
    request.version = fields.required_u32("version");
    request.policy = fields.required_nested<SandboxPolicy>("policy", policy_from_json);
    request.command = fields.required_string_list("command");
    request.account_sid = fields.required_string("account_sid");
    request.base_sid = fields.required_string("base_sid");
    request.capability_sid = fields.required_string("capability_sid");
    request.trace = fields.optional_bool("trace", false);
    return fields.finish(std::move(request));
}

Result<void> validate_worker_request(const WorkerRequest& request) {
    if (request.version != kSupportedWorkerProtocolVersion)
        return std::unexpected(
            formatted_failure("invalid_request", exit_code::invalid_request,
                              "Unsupported worker protocol version: ", request.version, "."));
    if (auto valid = validate_policy(request.policy); !valid)
        return valid;
    if (request.command.empty() || request.command.front().empty())
        return std::unexpected(fixed_failure("invalid_request", "Worker request has no command.",
                                             exit_code::invalid_request));
    if (request.account_sid.empty() || request.base_sid.empty() || request.capability_sid.empty())
        return std::unexpected(fixed_failure("invalid_request",
                                             "Worker request has no security identifiers.",
                                             exit_code::invalid_request));
    return {};
}

}  // namespace quarvel
