#pragma once
// The shorter road for the frames that make up nearly all of a run's traffic: Stdout and
// Stderr frames exactly as the worker writes them, a small object around one long string.

#include <optional>
#include <string_view>

#include "windows/channel/worker_frame.h"

namespace quarvel {

// The frame, when `body` is exactly {"type":"stdout","data":"..."} or the same with "stderr"
// (no whitespace, nothing after it) and the string holds valid UTF-8 and only the escapes
// \" \\ \/ \b \f \n \r \t and \uXXXX outside the surrogate range. Nothing for every other body,
// valid or not: parse_worker_frame_generally then reads it, so that acceptance and every error
// text stay those of the general reader. Where it answers, the answer is the general reader's.
std::optional<WorkerFrame> read_plain_output_frame(std::string_view body);

}  // namespace quarvel
