#pragma once
// Publishing a status document so that a reader of the status file sees the previous document
// or the new one, never a part of either: the document is written to a temporary file beside
// the target and renamed onto it.

#include <cstdint>
#include <string>

#include "cli/failure.h"
#include "platform/wide_text.h"
#include "status/status_report.h"

namespace quarvel {

// ".quarvel-status-" + process id + "-" + publication number + ".tmp".
std::string temporary_status_name(std::uint32_t process_id, std::uint64_t publication);

// Publishes `report` at `path`. The parent directory and its missing ancestors are created; a
// bare file name is published in the current directory. An existing target is replaced, a
// read-only one too (by deleting it when the rename is refused). Each call takes the next
// number of one process-wide counter for its temporary name, so threads never share one.
//
// Failures: invalid_request (64) "Status file has no parent directory." for an empty path or a
// root; status_serialization_failed (70) when the document cannot be written as JSON; io_error
// (74) with context "Could not create status directory", "Could not write status file",
// "Could not publish status file" (the rename failed and there is no target) or "Could not
// replace status file" (the target could not be deleted, or the second rename failed: then
// the target is gone). The previous target is otherwise left as it was, and a temporary file
// that was written is left behind when the rename fails.
Result<void> publish_status(WideView path, const StatusReport& report);

}  // namespace quarvel
