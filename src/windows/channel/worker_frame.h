#pragma once
// The messages the worker sends the runner: one frame per message, an internally tagged JSON
// object whose "type" names the variant.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

namespace quarvel {

namespace frame {

// The worker reached a named stage (only when the request asked for tracing).
struct Progress {
    std::string stage;
    bool operator==(const Progress&) const = default;
};
// The command runs with this process id.
struct Started {
    std::uint32_t process_id = 0;
    bool operator==(const Started&) const = default;
};
// A piece of the command's standard output, as UTF-8 text.
struct Stdout {
    std::string data;
    bool operator==(const Stdout&) const = default;
};
// A piece of the command's standard error, as UTF-8 text.
struct Stderr {
    std::string data;
    bool operator==(const Stderr&) const = default;
};
// The command ended with this exit code (its 32 bits read as signed). Terminal.
struct Exited {
    std::int32_t exit_code = 0;
    bool operator==(const Exited&) const = default;
};
// The worker failed with this failure's code and message. Terminal.
struct Failed {
    std::string code;
    std::string message;
    bool operator==(const Failed&) const = default;
};

}  // namespace frame

using WorkerFrame = std::variant<frame::Progress, frame::Started, frame::Stdout, frame::Stderr,
                                 frame::Exited, frame::Failed>;

// What write_worker_frame writes for a Stdout or Stderr frame: the head, the data escaped as
// append_json_escaped escapes it, the tail. Output frames are built in place from these.
inline constexpr std::string_view kStdoutFrameHead = R"({"type":"stdout","data":")";
inline constexpr std::string_view kStderrFrameHead = R"({"type":"stderr","data":")";
inline constexpr std::string_view kOutputFrameTail = R"("})";

// True for Exited and Failed, after which the runner reads nothing more.
bool is_terminal(const WorkerFrame& frame);

// Compact JSON, "type" first, then the variant's fields in declaration order. The error is the
// JSON writer's description (text that is not valid UTF-8).
std::expected<std::string, std::string> write_worker_frame(const WorkerFrame& frame);

// One frame from a message body: an object whose "type" (anywhere in it) names a variant, with
// that variant's fields present once each and in range; other keys are ignored. The error is
// the JSON reader's description with its position. Output frames as the worker writes them
// are read without building a document tree (read_plain_output_frame), with the same result.
std::expected<WorkerFrame, std::string> parse_worker_frame(std::string_view body);

// The same through the general JSON reader alone, for every body.
std::expected<WorkerFrame, std::string> parse_worker_frame_generally(std::string_view body);

}  // namespace quarvel
