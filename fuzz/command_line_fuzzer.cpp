// The command line: any argument vector gives one command or one invalid_request failure, a
// parsed command written back as its plainest argument vector parses to the same command, and
// a run's words survive the command line the worker builds from them.
//
// Input: the arguments separated by NUL bytes (an argument never holds one on Windows), each
// read as UTF-8 that may also encode lone surrogates (ED A0 80 is U+D800), so that arguments
// with unpaired surrogates reach the parser; a byte that starts no such sequence is the UTF-16
// unit of the same value.

#include <winsim/testing.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "cli/command.h"
#include "fuzz_check.h"
#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"
#include "windows/security/command_line_quoting.h"

namespace quarvel::fuzz {
namespace {

using cli::Command;

// One 1-, 2- or 3-byte sequence at `at`, surrogates allowed, shortest form only.
std::size_t decode_unit(std::string_view bytes, std::size_t at, WCHAR& unit) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[at + i]); };
    const auto continuation = [&](std::size_t i) {
        return at + i < bytes.size() && (byte(i) & 0xC0) == 0x80;
    };
    if (byte(0) >= 0xC2 && byte(0) <= 0xDF && continuation(1)) {
        unit = static_cast<WCHAR>((byte(0) & 0x1F) << 6 | (byte(1) & 0x3F));
        return 2;
    }
    if ((byte(0) & 0xF0) == 0xE0 && continuation(1) && continuation(2)) {
        const unsigned value = (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
        if (value >= 0x800) {
            unit = static_cast<WCHAR>(value);
            return 3;
        }
    }
    unit = static_cast<WCHAR>(byte(0));
    return 1;
}

WideString argument_from(std::string_view bytes) {
    WideString argument;
    for (std::size_t at = 0; at < bytes.size();) {
        WCHAR unit = 0;
        at += decode_unit(bytes, at, unit);
        argument.push_back(unit);
    }
    return argument;
}

std::vector<WideString> arguments_from(std::string_view input) {
    std::vector<WideString> arguments;
    if (input.empty())
        return arguments;
    for (std::size_t start = 0;;) {
        const std::size_t end = input.find('\0', start);
        arguments.push_back(argument_from(input.substr(start, end - start)));
        if (end == std::string_view::npos)
            return arguments;
        start = end + 1;
    }
}

// The plainest argument vector for a command: its word, then its options in table order.
std::vector<WideString> written_back(const Command& command) {
    struct Writer {
        std::vector<WideString> operator()(const cli::Probe& probe) const {
            return {to_wide("probe"), to_wide("--state-dir"), probe.state_dir,
                    to_wide("--status-file"), probe.status_file};
        }
        std::vector<WideString> operator()(const cli::Setup& setup) const {
            std::vector<WideString> arguments{to_wide("setup"), to_wide("--state-dir"),
                                              setup.state_dir, to_wide("--status-file"),
                                              setup.status_file};
            if (setup.owner_sid) {
                arguments.push_back(to_wide("--owner-sid"));
                arguments.push_back(to_wide(*setup.owner_sid));
            }
            return arguments;
        }
        std::vector<WideString> operator()(const cli::Run& run) const {
            std::vector<WideString> arguments{to_wide("run"), to_wide("--state-dir"),
                                              run.state_dir,  to_wide("--policy"),
                                              run.policy,     to_wide("--")};
            for (const auto& part : run.command)
                arguments.push_back(to_wide(part));
            return arguments;
        }
        std::vector<WideString> operator()(const cli::Worker& worker) const {
            return {to_wide("__worker"), to_wide("--pipe"), to_wide(worker.pipe)};
        }
        std::vector<WideString> operator()(const cli::Help&) const { return {to_wide("help")}; }
    };
    return std::visit(Writer{}, command);
}

bool same_command(const Command& a, const Command& b) {
    if (a.index() != b.index())
        return false;
    if (const auto* probe = std::get_if<cli::Probe>(&a)) {
        const auto& other = std::get<cli::Probe>(b);
        return probe->state_dir == other.state_dir && probe->status_file == other.status_file;
    }
    if (const auto* setup = std::get_if<cli::Setup>(&a)) {
        const auto& other = std::get<cli::Setup>(b);
        return setup->owner_sid == other.owner_sid && setup->state_dir == other.state_dir &&
               setup->status_file == other.status_file;
    }
    if (const auto* run = std::get_if<cli::Run>(&a)) {
        const auto& other = std::get<cli::Run>(b);
        return run->state_dir == other.state_dir && run->policy == other.policy &&
               run->command == other.command;
    }
    if (const auto* worker = std::get_if<cli::Worker>(&a))
        return worker->pipe == std::get<cli::Worker>(b).pipe;
    return true;
}

// Words are text: UTF-8 however the argument was formed. Paths stay as they were given.
void require_well_formed(const Command& command) {
    if (const auto* setup = std::get_if<cli::Setup>(&command))
        require(!setup->owner_sid || is_valid_utf8(*setup->owner_sid), "an owner SID is text");
    if (const auto* worker = std::get_if<cli::Worker>(&command))
        require(is_valid_utf8(worker->pipe), "a pipe name is text");
    if (const auto* run = std::get_if<cli::Run>(&command)) {
        require(!run->command.empty() && !run->command.front().empty(),
                "a run has a command whose program is not empty");
        for (const auto& part : run->command)
            require(is_valid_utf8(part), "a command's words are text");
    }
}

// The worker gives the command its words as one command line, which the command splits by
// Windows' rule, so they must come back unchanged. The program is read up to the next quote
// without escapes, so one holding a double quote (which no Windows file name can) or ending in
// a backslash (a directory) cannot come back, and is left out.
void require_words_survive_the_command_line(const cli::Run& run) {
    const std::string& program = run.command.front();
    if (program.find('"') != std::string::npos || program.ends_with('\\'))
        return;
    const std::size_t allocations = winsim::outstanding_local_allocations();
    const auto line = build_command_line(run.command);
    require(line.has_value(), "a run's command makes a command line");
    int count = 0;
    LocalPtr<LPWSTR> split(CommandLineToArgvW(line->c_str(), &count));
    require(static_cast<bool>(split), "a command line splits");
    std::vector<std::string> words;
    for (int k = 0; k < count; ++k)
        words.push_back(narrow_lossy(split.get()[k]));
    split.reset();
    require(words == run.command, "a run's words come back from its command line unchanged");
    require(winsim::outstanding_local_allocations() == allocations,
            "the split command line is freed");
}

}  // namespace
}  // namespace quarvel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarvel;
    using namespace quarvel::fuzz;
    const auto arguments = arguments_from(as_text(data, size));
    const auto command = cli::parse_command_line(arguments);
    if (!command) {
        require(command.error().code == "invalid_request", "a command line fails as invalid");
        require_printable_failure(command.error(), exit_code::invalid_request);
        return 0;
    }
    require_well_formed(*command);
    const auto again = cli::parse_command_line(written_back(*command));
    require(again.has_value(), "a parsed command written back parses");
    require(same_command(*command, *again), "a parsed command written back is the same command");
    if (const auto* run = std::get_if<cli::Run>(&*command))
        require_words_survive_the_command_line(*run);
    return 0;
}
