#pragma once
// The parsed command line: exactly one command, or the failure that explains why not.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cli/failure.h"
#include "platform/wide_text.h"

namespace quarvel::cli {

struct Probe {
    WideString state_dir;
    WideString status_file;
};

struct Setup {
    std::optional<std::string> owner_sid;
    WideString state_dir;
    WideString status_file;
};

struct Run {
    WideString state_dir;
    WideString policy;
    // At least one element, the first non-empty.
    std::vector<std::string> command;
};

struct Worker {
    std::string pipe;
};

struct Help {};

using Command = std::variant<Probe, Setup, Run, Worker, Help>;

// "Usage:" and one line per public command, joined by line feeds, no line feed at the end.
inline constexpr std::string_view kUsageText =
    "Usage:\n"
    "  quarvel-sandbox-windows probe --state-dir <path> --status-file <path>\n"
    "  quarvel-sandbox-windows setup --state-dir <path> --status-file <path> [--owner-sid <sid>]\n"
    "  quarvel-sandbox-windows run --state-dir <path> --policy <json-file> -- <command> [args...]";

// Parses the arguments that follow the program's own name. Paths stay as Windows delivered
// them; words are converted to UTF-8 with U+FFFD for each unpaired surrogate.
Result<Command> parse_command_line(std::span<const WideString> arguments);

}  // namespace quarvel::cli
