#pragma once
// The text of a run's record: what a run has granted, written down before it is granted, so that
// whoever finds the record of a run that is gone can take it back. One JSON object per line, each
// line written whole and in one go:
//   {"version":1,"capability_sid":"S-1-5-21-..."}        first, before anything is granted
//   {"path":"\\?\C:\work\project"}                       a location about to carry entries
//   {"temporary_directory":"\\?\C:\work\runtime\..."}    a directory made for the command
// A run killed while it wrote a line leaves that line without its line feed; it names nothing
// granted yet, since the grant comes after the line, and readers leave it out.

#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wide_text.h"

namespace quarvel {

inline constexpr std::uint32_t kRunRecordVersion = 1;

// Each line with its line feed, or the JSON writer's description of what cannot be written (a
// path with an unpaired surrogate).
std::expected<std::string, std::string> run_record_header(std::string_view capability_sid);
std::expected<std::string, std::string> run_record_path(WideView canonical_path);
std::expected<std::string, std::string> run_record_temporary_directory(WideView directory);

struct RunRecordContents {
    std::string capability_sid;
    std::vector<WideString> paths;
    std::vector<WideString> temporary_directories;
};

enum class RunRecordFault {
    // Not even the first line is whole: the run was gone before it granted anything.
    nothing_granted,
    // A whole line that is not one of the three, or another version: what it names is unknown.
    unreadable,
};

// The record's contents; a last line without its line feed is left out.
std::expected<RunRecordContents, RunRecordFault> read_run_record(std::string_view text);

}  // namespace quarvel
