#include "selftest/options.h"

#include <charconv>
#include <set>

namespace quarvel::selftest {
namespace {

Failure invalid(std::string message) {
    return fixed_failure("invalid_request", message, exit_code::invalid_request);
}

std::optional<std::vector<std::uint64_t>> file_counts(const std::string& text) {
    std::vector<std::uint64_t> counts;
    if (text == "none")
        return counts;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        std::uint64_t count = 0;
        const auto parsed = std::from_chars(text.data() + at, text.data() + comma, count);
        if (comma == at || parsed.ec != std::errc() || parsed.ptr != text.data() + comma)
            return std::nullopt;
        counts.push_back(count);
        at = comma + 1;
    }
    return counts;
}

}  // namespace

Result<std::variant<Options, Help>> parse_options(const std::vector<WideString>& arguments) {
    if (!arguments.empty()) {
        const std::string first = narrow_lossy(arguments.front());
        if (first == "-h" || first == "--help" || first == "help")
            return Help{};
    }
    Options options;
    std::set<std::string> seen;
    for (std::size_t at = 0; at < arguments.size(); ++at) {
        const std::string name = narrow_lossy(arguments[at]);
        if (name == "--setup" || name == "--keep") {
            if (!seen.insert(name).second)
                return std::unexpected(invalid("Duplicate option: " + name + "."));
            (name == "--setup" ? options.setup : options.keep) = true;
            continue;
        }
        static const std::set<std::string> valued = {"--program",  "--state-dir", "--owner-sid",
                                                     "--work-dir", "--report",    "--timing-files"};
        if (!valued.contains(name))
            return std::unexpected(invalid("Unknown option: " + name + "."));
        if (at + 1 >= arguments.size())
            return std::unexpected(invalid("Missing value for " + name + "."));
        if (!seen.insert(name).second)
            return std::unexpected(invalid("Duplicate option: " + name + "."));
        const std::string value = narrow_lossy(arguments[++at]);
        if (name == "--program")
            options.program = value;
        else if (name == "--state-dir")
            options.state_dir = value;
        else if (name == "--owner-sid")
            options.owner_sid = value;
        else if (name == "--work-dir")
            options.work_dir = value;
        else if (name == "--report")
            options.report = value;
        else if (auto counts = file_counts(value))
            options.timing_files = std::move(*counts);
        else
            return std::unexpected(
                invalid("Option --timing-files takes file counts separated by commas, or none."));
    }
    for (const char* required : {"--program", "--state-dir"})
        if (!seen.contains(required))
            return std::unexpected(
                invalid(std::string("Missing required option: ") + required + "."));
    return options;
}

}  // namespace quarvel::selftest
