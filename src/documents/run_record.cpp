#include "documents/run_record.h"

#include <optional>

#include "cli/json_writer.h"
#include "documents/json_reader.h"

namespace quarvel {
namespace {

std::expected<std::string, std::string> line_of(JsonWriter writer) {
    auto document = std::move(writer).finish();
    if (!document)
        return document;
    *document += '\n';
    return document;
}

std::expected<std::string, std::string> item_line(std::string_view key, WideView path) {
    JsonWriter writer;
    writer.begin_object().key(key).path(path).end_object();
    return line_of(std::move(writer));
}

// The one member of an item line, or nothing for any other line.
std::optional<std::pair<std::string, std::string>> item_of(const JsonValue& line) {
    if (line.kind != JsonKind::object || line.members.size() != 1 ||
        line.members[0].value.kind != JsonKind::string)
        return std::nullopt;
    return std::pair{line.members[0].key, line.members[0].value.text};
}

std::optional<std::string> capability_of(const JsonValue& header) {
    if (header.kind != JsonKind::object || header.members.size() != 2)
        return std::nullopt;
    const JsonValue* version = nullptr;
    const JsonValue* capability = nullptr;
    for (const auto& member : header.members) {
        if (member.key == "version")
            version = &member.value;
        else if (member.key == "capability_sid")
            capability = &member.value;
    }
    if (version == nullptr || capability == nullptr ||
        version->kind != JsonKind::unsigned_integer ||
        version->unsigned_integer != kRunRecordVersion || capability->kind != JsonKind::string)
        return std::nullopt;
    return capability->text;
}

}  // namespace

std::expected<std::string, std::string> run_record_header(std::string_view capability_sid) {
    JsonWriter writer;
    writer.begin_object()
        .key("version")
        .unsigned_number(kRunRecordVersion)
        .key("capability_sid")
        .string(capability_sid)
        .end_object();
    return line_of(std::move(writer));
}

std::expected<std::string, std::string> run_record_path(WideView canonical_path) {
    return item_line("path", canonical_path);
}

std::expected<std::string, std::string> run_record_temporary_directory(WideView directory) {
    return item_line("temporary_directory", directory);
}

std::expected<RunRecordContents, RunRecordFault> read_run_record(std::string_view text) {
    RunRecordContents contents;
    bool header_read = false;
    for (std::size_t end = text.find('\n'); end != std::string_view::npos; end = text.find('\n')) {
        const auto line = read_json_document(text.substr(0, end));
        text.remove_prefix(end + 1);
        if (!line)
            return std::unexpected(RunRecordFault::unreadable);
        if (!header_read) {
            auto capability = capability_of(*line);
            if (!capability)
                return std::unexpected(RunRecordFault::unreadable);
            contents.capability_sid = std::move(*capability);
            header_read = true;
            continue;
        }
        const auto item = item_of(*line);
        if (item && item->first == "path")
            contents.paths.push_back(to_wide(item->second));
        else if (item && item->first == "temporary_directory")
            contents.temporary_directories.push_back(to_wide(item->second));
        else
            return std::unexpected(RunRecordFault::unreadable);
    }
    if (!header_read)
        return std::unexpected(RunRecordFault::nothing_granted);
    return contents;
}

}  // namespace quarvel
