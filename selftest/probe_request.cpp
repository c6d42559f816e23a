#include "selftest/probe_request.h"

#include <type_traits>

namespace quarvel::selftest {
namespace {

// The members in one list, so that writing and reading cannot drift apart.
template <class Visitor>
void visit_members(ProbeRequest& request, Visitor&& visit) {
    visit("mode", request.mode);
    visit("network_enabled", request.network_enabled);
    visit("cwd", request.cwd);
    visit("writable_root", request.writable_root);
    visit("readable_root", request.readable_root);
    visit("readable_secret", request.readable_secret);
    visit("sibling", request.sibling);
    visit("sibling_secret", request.sibling_secret);
    visit("runtime_dir", request.runtime_dir);
    visit("other_workspace", request.other_workspace);
    visit("state_dir", request.state_dir);
    visit("credentials", request.credentials);
    visit("user_profile", request.user_profile);
    visit("system_root", request.system_root);
    visit("program_copy", request.program_copy);
    visit("runner_pid", request.runner_pid);
    visit("host_pid", request.host_pid);
    visit("other_command_pid", request.other_command_pid);
    visit("expected_user_sid", request.expected_user_sid);
    visit("runner_logon_sid", request.runner_logon_sid);
    visit("host_user_sid", request.host_user_sid);
    visit("listener_port", request.listener_port);
    visit("own_address", request.own_address);
    visit("lookup_name", request.lookup_name);
}

}  // namespace

nlohmann::json to_json(const ProbeRequest& request) {
    nlohmann::json value = nlohmann::json::object();
    auto copy = request;
    visit_members(copy, [&](const char* key, const auto& member) {
        if constexpr (requires { member.has_value(); })
            value[key] = member ? nlohmann::json(*member) : nlohmann::json(nullptr);
        else
            value[key] = member;
    });
    return value;
}

ProbeRequest probe_request_from_json(const nlohmann::json& value) {
    ProbeRequest request;
    visit_members(request, [&](const char* key, auto& member) {
        using Member = std::decay_t<decltype(member)>;
        const auto& found = value.at(key);
        if constexpr (requires { member.has_value(); }) {
            if (found.is_null())
                member.reset();
            else
                member = found.get<typename Member::value_type>();
        } else {
            member = found.get<Member>();
        }
    });
    return request;
}

}  // namespace quarvel::selftest
