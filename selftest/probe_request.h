#pragma once
// What the self-test tells its copy that runs as the protected command: where the workspace
// and the places it must not reach are, which processes to try to open, whom it should run as,
// and where the network listeners are. The host writes it as a JSON file into the readable
// root; the probe reads it from there.

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace quarvel::selftest {

struct ProbeRequest {
    std::string mode;  // "network enabled" or "network disabled"
    bool network_enabled = true;

    // Paths, as Windows paths in UTF-8.
    std::string cwd;
    std::string writable_root;
    std::string readable_root;
    std::string readable_secret;
    std::string sibling;
    std::string sibling_secret;
    std::string runtime_dir;
    std::string other_workspace;  // the other run's cwd
    std::string state_dir;
    std::string credentials;
    std::string user_profile;  // "" when the user has none this build can see
    std::string system_root;   // "C:\"
    std::string program_copy;  // the probe's own copy, for the children it starts

    // Processes.
    std::uint32_t runner_pid = 0;
    std::uint32_t host_pid = 0;
    std::uint32_t other_command_pid = 0;

    // Identities, as SID strings.
    std::string expected_user_sid;
    std::string runner_logon_sid;
    std::string host_user_sid;

    // Network: a listener on every address of the host, and the machine's own non-loopback
    // address (absent when there is none, or when the host could not reach it itself).
    std::optional<std::uint16_t> listener_port;
    std::optional<std::string> own_address;
    std::string lookup_name;
};

nlohmann::json to_json(const ProbeRequest& request);
// Throws nlohmann::json::exception for a document that is not one.
ProbeRequest probe_request_from_json(const nlohmann::json& value);

}  // namespace quarvel::selftest
