#pragma once
// The status document: one small JSON object through which the host application learns how an
// operation went.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>

#include "cli/failure.h"

namespace quarvel {

enum class Operation { probe, setup, run };

enum class StatusState { ready, setup_required, running, completed, failed, unavailable };

inline constexpr std::uint32_t kStatusDocumentVersion = 1;
// The setup format version this program writes and requires.
inline constexpr std::uint32_t kSetupFormatVersion = 2;

// Members in the order in which they are written; an unset optional member is left out.
struct StatusReport {
    std::uint32_t version = kStatusDocumentVersion;
    Operation operation = Operation::probe;
    StatusState state = StatusState::failed;
    std::string code;
    std::string message;
    std::uint32_t setup_version = kSetupFormatVersion;
    std::optional<std::uint32_t> process_id;  // of the protected command, while running
    std::optional<std::int32_t> exit_code;    // of the protected command, once completed

    bool operator==(const StatusReport&) const = default;
};

// A document for a success: the caller may set process_id or exit_code afterwards.
StatusReport success_report(Operation operation, StatusState state, std::string code,
                            std::string message);

// The document for a failure: its code and message; state setup_required for the code
// setup_required, unavailable for sandbox_unavailable, failed for every other code.
StatusReport failed_report(Operation operation, const Failure& failure);

// The compact JSON text, without a line feed, or the writer's description when a text member
// is not valid UTF-8.
std::expected<std::string, std::string> status_json(const StatusReport& report);

}  // namespace quarvel
