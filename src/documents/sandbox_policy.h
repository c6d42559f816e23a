#pragma once
// The sandbox policy: the document the host application writes to tell `run` where the
// command works, which directories it may write or only read, where its runtime directory and
// status file are, and whether it may use the network.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "cli/failure.h"
#include "cli/json_writer.h"
#include "documents/json_reader.h"
#include "platform/wide_text.h"

namespace quarvel {

enum class NetworkMode { enabled, disabled };

// Members in declaration order, which is also the order in which they are written.
struct SandboxPolicy {
    std::uint32_t version = 1;
    WideString cwd;
    std::vector<WideString> writable_roots;
    std::vector<WideString> readable_roots;
    WideString runtime_dir;
    NetworkMode network = NetworkMode::enabled;
    WideString status_file;

    bool operator==(const SandboxPolicy&) const = default;
};

inline constexpr std::uint32_t kSupportedPolicyVersion = 1;

// Reads and parses the policy file. Fails with io_error (74, context "Could not read policy")
// when the file cannot be read, and with invalid_request (64, "Invalid policy JSON: " + the
// reader's description) when it is not one policy document.
Result<SandboxPolicy> read_policy(WideView path);

// One JSON document holding a policy object, or the reader's description of what is wrong.
std::expected<SandboxPolicy, std::string> parse_policy(std::string_view bytes);

// The policy object inside an already read document (the worker request nests one).
std::expected<SandboxPolicy, std::string> policy_from_json(const JsonValue& value);

// Appends the policy object: all seven keys in declaration order, defaults included.
void write_policy(JsonWriter& out, const SandboxPolicy& policy);

// Version 1, then cwd, runtime_dir, status_file, each writable root and each readable root
// absolute, in that order; the first failure is returned (invalid_request, 64).
Result<void> validate_policy(const SandboxPolicy& policy);

}  // namespace quarvel
