#pragma once
// The self-test's command line.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli/failure.h"
#include "platform/wide_text.h"

namespace quarvel::selftest {

inline constexpr std::string_view kUsage =
    "Usage:\n"
    "  quarvel-sandbox-selftest --program <quarvel-sandbox-windows.exe> --state-dir <path>\n"
    "      [--setup] [--owner-sid <sid>] [--work-dir <path>] [--report <json-file>]\n"
    "      [--timing-files <n>,<n>... | none] [--keep]";

struct Options {
    std::string program;
    std::string state_dir;
    bool setup = false;
    std::optional<std::string> owner_sid;
    std::optional<std::string> work_dir;  // default: the temporary folder
    std::string report = "quarvel-selftest-report.json";
    std::vector<std::uint64_t> timing_files = {1000, 10000};
    bool keep = false;  // leave the workspace for inspection
};

struct Help {};

// Options come as names, each with a value after it but for the flags --setup and --keep.
// Failures: invalid_request (exit code 64) with "Unknown option: <name>.", "Missing value for
// <name>.", "Duplicate option: <name>.", "Missing required option: <name>.", or "Option
// --timing-files takes file counts separated by commas, or none.".
Result<std::variant<Options, Help>> parse_options(const std::vector<WideString>& arguments);

}  // namespace quarvel::selftest
