#include "cli/command.h"

#include <algorithm>
#include <array>

namespace quarvel::cli {
namespace {

using OptionList = std::vector<std::pair<std::string, WideString>>;

struct OptionTable {
    std::span<const std::string_view> allowed;
    std::span<const std::string_view> required;
};

constexpr std::array<std::string_view, 2> kProbeOptions = {"--state-dir", "--status-file"};
constexpr std::array<std::string_view, 3> kSetupOptions = {"--state-dir", "--status-file",
                                                           "--owner-sid"};
constexpr std::array<std::string_view, 2> kRunOptions = {"--state-dir", "--policy"};
constexpr std::array<std::string_view, 1> kWorkerOptions = {"--pipe"};

constexpr OptionTable kProbeTable{kProbeOptions, kProbeOptions};
constexpr OptionTable kSetupTable{kSetupOptions, std::span(kSetupOptions).first(2)};
constexpr OptionTable kRunTable{kRunOptions, kRunOptions};
constexpr OptionTable kWorkerTable{kWorkerOptions, kWorkerOptions};

Failure invalid(std::string_view message) {
    return fixed_failure("invalid_request", message, exit_code::invalid_request);
}

template <class... Pieces>
Failure invalid(const Pieces&... pieces) {
    return formatted_failure("invalid_request", exit_code::invalid_request, pieces...);
}

// Reads name/value pairs strictly in order, then checks the required names.
Result<OptionList> parse_options(std::span<const WideString> arguments, const OptionTable& table) {
    OptionList options;
    for (std::size_t k = 0; k < arguments.size(); k += 2) {
        const std::string name = narrow_lossy(arguments[k]);
        if (std::ranges::find(table.allowed, name) == table.allowed.end())
            return std::unexpected(invalid("Unknown option: ", name, "."));
        if (k + 1 >= arguments.size())
            return std::unexpected(invalid("Missing value for ", name, "."));
        const bool seen =
            std::ranges::any_of(options, [&](const auto& option) { return option.first == name; });
        if (seen)
            return std::unexpected(invalid("Duplicate option: ", name, "."));
        options.emplace_back(name, arguments[k + 1]);
    }
    for (const std::string_view name : table.required) {
        const bool present =
            std::ranges::any_of(options, [&](const auto& option) { return option.first == name; });
        if (!present)
            return std::unexpected(invalid("Missing required option: ", name, "."));
    }
    return options;
}

std::optional<WideString> option_value(const OptionList& options, std::string_view name) {
    for (const auto& [option_name, value] : options) {
        if (option_name == name)
            return value;
    }
    return std::nullopt;
}

// Required options were checked by parse_options, so their lookup cannot come back empty.
WideString required_value(const OptionList& options, std::string_view name) {
    return option_value(options, name).value_or(WideString{});
}

Result<Command> parse_probe(std::span<const WideString> arguments) {
    auto options = parse_options(arguments, kProbeTable);
    if (!options)
        return std::unexpected(std::move(options.error()));
    return Probe{required_value(*options, "--state-dir"),
                 required_value(*options, "--status-file")};
}

Result<Command> parse_setup(std::span<const WideString> arguments) {
    auto options = parse_options(arguments, kSetupTable);
    if (!options)
        return std::unexpected(std::move(options.error()));
    std::optional<std::string> owner_sid;
    if (auto value = option_value(*options, "--owner-sid"))
        owner_sid = narrow_lossy(*value);
    return Setup{std::move(owner_sid), required_value(*options, "--state-dir"),
                 required_value(*options, "--status-file")};
}

Result<Command> parse_worker(std::span<const WideString> arguments) {
    auto options = parse_options(arguments, kWorkerTable);
    if (!options)
        return std::unexpected(std::move(options.error()));
    return Worker{narrow_lossy(required_value(*options, "--pipe"))};
}

// The command after "--" is checked before the options in front of it, so an empty command is
// reported even when the options are wrong too.
Result<Command> parse_run(std::span<const WideString> arguments) {
    const WideString separator = to_wide("--");
    const auto split = std::ranges::find(arguments, separator);
    if (split == arguments.end())
        return std::unexpected(invalid("run requires -- before the command."));
    std::vector<std::string> command;
    for (auto word = split + 1; word != arguments.end(); ++word)
        command.push_back(narrow_lossy(*word));
    if (command.empty() || command.front().empty())
        return std::unexpected(invalid("run requires a command after --."));
    const auto before = arguments.first(static_cast<std::size_t>(split - arguments.begin()));
    auto options = parse_options(before, kRunTable);
    if (!options)
        return std::unexpected(std::move(options.error()));
    return Run{required_value(*options, "--state-dir"), required_value(*options, "--policy"),
               std::move(command)};
}

}  // namespace

Result<Command> parse_command_line(std::span<const WideString> arguments) {
    if (arguments.empty())
        return std::unexpected(invalid(kUsageText));
    const std::string word = narrow_lossy(arguments.front());
    const auto rest = arguments.subspan(1);
    if (word == "-h" || word == "--help" || word == "help")
        return Help{};
    if (word == "probe")
        return parse_probe(rest);
    if (word == "setup")
        return parse_setup(rest);
    if (word == "run")
        return parse_run(rest);
    if (word == "__worker")
        return parse_worker(rest);
    return std::unexpected(invalid("Unknown command: ", word, "."));
}

}  // namespace quarvel::cli
