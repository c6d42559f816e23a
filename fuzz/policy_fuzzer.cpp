// The policy document: every input is one policy or a positioned description of its fault;
// every accepted policy round-trips through the writer the worker request uses, and its
// validation ends in success or a printable invalid_request.

#include <cstddef>
#include <cstdint>

#include "documents/sandbox_policy.h"
#include "fuzz_check.h"
#include "round_trip.h"

namespace quarvel::fuzz {
namespace {

std::expected<std::string, std::string> policy_text(const SandboxPolicy& policy) {
    JsonWriter out;
    write_policy(out, policy);
    return std::move(out).finish();
}

}  // namespace
}  // namespace quarvel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarvel;
    using namespace quarvel::fuzz;
    const auto policy = parse_policy(as_text(data, size));
    if (!policy) {
        require_rejection(policy.error(), as_text(data, size),
                          "Invalid policy JSON: ", exit_code::invalid_request);
        return 0;
    }
    require_round_trip(*policy, parse_policy, policy_text);
    if (const auto valid = validate_policy(*policy); !valid) {
        require(valid.error().code == "invalid_request", "a policy is refused as invalid");
        require_printable_failure(valid.error(), exit_code::invalid_request);
    }
    return 0;
}
