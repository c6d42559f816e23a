#include "windows/channel/worker_frame.h"

#include <utility>

#include "cli/json_writer.h"
#include "documents/json_fields.h"
#include "documents/json_reader.h"
#include "windows/channel/plain_output_frame.h"

namespace quarvel {
namespace {

// The "type" words, in the variants' declaration order.
constexpr std::string_view kTypeNames[] = {"progress", "started", "stdout",
                                           "stderr",   "exited",  "failed"};
static_assert(std::size(kTypeNames) == std::variant_size_v<WorkerFrame>);

void write_fields(JsonWriter& out, const frame::Progress& progress) {
    out.key("stage").string(progress.stage);
}
void write_fields(JsonWriter& out, const frame::Started& started) {
    out.key("process_id").unsigned_number(started.process_id);
}
void write_fields(JsonWriter& out, const frame::Stdout& output) {
    out.key("data").string(output.data);
}
void write_fields(JsonWriter& out, const frame::Stderr& output) {
    out.key("data").string(output.data);
}
void write_fields(JsonWriter& out, const frame::Exited& exited) {
    out.key("exit_code").signed_number(exited.exit_code);
}
void write_fields(JsonWriter& out, const frame::Failed& failed) {
    out.key("code").string(failed.code);
    out.key("message").string(failed.message);
}

WorkerFrame read_fields(std::size_t type, JsonFields& fields) {
    switch (type) {
        case 0:
            return frame::Progress{fields.required_string("stage")};
        case 1:
            return frame::Started{fields.required_u32("process_id")};
        case 2:
            return frame::Stdout{fields.required_string("data")};
        case 3:
            return frame::Stderr{fields.required_string("data")};
        case 4:
            return frame::Exited{fields.required_i32("exit_code")};
        default: {
            std::string code = fields.required_string("code");
            return frame::Failed{std::move(code), fields.required_string("message")};
        }
    }
}

}  // namespace

bool is_terminal(const WorkerFrame& frame) {
    return std::holds_alternative<frame::Exited>(frame) ||
           std::holds_alternative<frame::Failed>(frame);
}

std::expected<std::string, std::string> write_worker_frame(const WorkerFrame& frame) {
    JsonWriter out;
    out.begin_object().key("type").string(kTypeNames[frame.index()]);
    std::visit([&out](const auto& variant) { write_fields(out, variant); }, frame);
    out.end_object();
    return std::move(out).finish();
}

std::expected<WorkerFrame, std::string> parse_worker_frame(std::string_view body) {
    if (auto output = read_plain_output_frame(body))
        return std::move(*output);
    return parse_worker_frame_generally(body);
}

std::expected<WorkerFrame, std::string> parse_worker_frame_generally(std::string_view body) {
    auto document = read_json_document(body);
    if (!document)
        return std::unexpected(std::move(document.error()));
    // Frames may grow members over time, so keys that no variant knows are passed over.
    JsonFields tag(*document, {"type"}, UnknownKeys::ignore);
    const std::size_t type = tag.required_choice(
        "type",
        {kTypeNames[0], kTypeNames[1], kTypeNames[2], kTypeNames[3], kTypeNames[4], kTypeNames[5]});
    if (!tag.ok())
        return std::unexpected(tag.error());
    JsonFields fields(*document, {}, UnknownKeys::ignore);
    WorkerFrame frame = read_fields(type, fields);
    return fields.finish(std::move(frame));
}

}  // namespace quarvel
