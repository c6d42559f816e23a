#pragma once
// The worker request: the one message the runner sends the worker over the protected channel,
// holding everything the worker needs to start the command under the protected identity.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "cli/failure.h"
#include "documents/sandbox_policy.h"

namespace quarvel {

// Members in declaration order, which is also the order in which they are written.
struct WorkerRequest {
    std::uint32_t version = 1;
    SandboxPolicy policy;
    std::vector<std::string> command;  // program first
    std::string account_sid;           // the protected account that runs the command
    std::string base_sid;              // the protected account group
    std::string capability_sid;        // this run's capability
    bool trace = false;                // whether the worker sends progress frames

    bool operator==(const WorkerRequest&) const = default;
};

inline constexpr std::uint32_t kSupportedWorkerProtocolVersion = 1;

// The request as one compact JSON object, or the writer's description when a policy path
// holds an unpaired surrogate.
std::expected<std::string, std::string> write_worker_request(const WorkerRequest& request);

// One message's bytes, or the reader's description of what is wrong. Every key but "trace" is
// required; the nested policy follows every rule of the policy document, defaults included.
std::expected<WorkerRequest, std::string> parse_worker_request(std::string_view bytes);

// Version 1, then the policy's own validation (its failure unchanged), then a command with a
// non-empty program, then three non-empty SIDs; the first failure is returned.
Result<void> validate_worker_request(const WorkerRequest& request);

}  // namespace quarvel
