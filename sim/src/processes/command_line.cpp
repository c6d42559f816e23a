// The process command line as UTF-16 and its split by the rule that CommandLineToArgvW follows.

#include <winsim/kernel.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "processes/command_line.h"
#include "machine/faults.h"
#include "processes/launch_marker.h"
#include "machine/wtf8.h"

namespace {

bool is_blank(char16_t c) {
    return c == u' ' || c == u'\t';
}

// Quotes one argument so that the splitter below gives it back unchanged.
std::u16string quoted(std::u16string_view argument) {
    const bool plain =
        !argument.empty() && argument.find_first_of(u" \t\n\v\"") == std::u16string_view::npos;
    if (plain)
        return std::u16string(argument);
    std::u16string out = u"\"";
    std::size_t backslashes = 0;
    for (char16_t c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        if (c == u'"')
            backslashes = backslashes * 2 + 1;
        out.append(backslashes, u'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, u'\\');
    out += u'"';
    return out;
}

// A process started by the simulated CreateProcess* receives its exact command line in
// WINSIM_COMMAND_LINE (WTF-8); a process started from a shell has its arguments joined and
// quoted, each decoded from WTF-8 so that a test can pass unpaired surrogates.
std::u16string read_command_line() {
    if (const char* given = std::getenv("WINSIM_COMMAND_LINE")) {
        std::u16string line = winsim::utf16_from_wtf8(given);
        unsetenv("WINSIM_COMMAND_LINE");
        if (winsim::started_by_simulated_host()) return line;
    }
    std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
    const std::string raw((std::istreambuf_iterator<char>(cmdline)), {});
    std::u16string line;
    std::size_t start = 0;
    while (start < raw.size()) {
        const std::size_t end = raw.find('\0', start);
        const std::string_view argument(raw.data() + start,
                                        (end == std::string::npos ? raw.size() : end) - start);
        if (!line.empty())
            line += u' ';
        line += quoted(winsim::utf16_from_wtf8(argument));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return line;
}

// Splits like CommandLineToArgvW: the program name ends at the next quote or blank with no
// escape processing; later arguments follow the backslash and quote rules.
std::vector<std::u16string> split_command_line(std::u16string_view line) {
    std::vector<std::u16string> arguments;
    std::size_t i = 0;
    std::u16string program;
    if (i < line.size() && line[i] == u'"') {
        ++i;
        while (i < line.size() && line[i] != u'"')
            program += line[i++];
        if (i < line.size())
            ++i;
    } else {
        while (i < line.size() && !is_blank(line[i]))
            program += line[i++];
    }
    arguments.push_back(program);
    for (;;) {
        while (i < line.size() && is_blank(line[i]))
            ++i;
        if (i >= line.size())
            break;
        std::u16string argument;
        int quote_count = 0;
        std::size_t backslashes = 0;
        while (i < line.size()) {
            const char16_t c = line[i];
            if (is_blank(c) && quote_count == 0)
                break;
            if (c == u'\\') {
                argument += c;
                ++backslashes;
                ++i;
            } else if (c == u'"') {
                if (backslashes % 2 == 0) {
                    argument.resize(argument.size() - backslashes / 2);
                    ++quote_count;
                } else {
                    argument.resize(argument.size() - backslashes / 2 - 1);
                    argument += u'"';
                }
                ++i;
                backslashes = 0;
                // Consecutive quotes: every third one is a literal quote.
                while (i < line.size() && line[i] == u'"') {
                    if (++quote_count == 3) {
                        argument += u'"';
                        quote_count = 0;
                    }
                    ++i;
                }
                if (quote_count == 2)
                    quote_count = 0;
            } else {
                argument += c;
                backslashes = 0;
                ++i;
            }
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

}  // namespace

LPWSTR GetCommandLineW() {
    static std::u16string line;
    static std::once_flag once;
    std::call_once(once, [] { line = read_command_line(); });
    return line.data();
}

LPWSTR* CommandLineToArgvW(LPCWSTR command_line, int* argument_count) {
    if (auto fault = winsim::take_fault("CommandLineToArgvW")) {
        SetLastError(fault->value);
        return nullptr;
    }
    if (command_line == nullptr || argument_count == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const auto arguments = split_command_line(std::u16string_view(command_line));
    // One block, as Windows does: the pointer array followed by the texts.
    std::size_t bytes = (arguments.size() + 1) * sizeof(LPWSTR);
    for (const auto& argument : arguments)
        bytes += (argument.size() + 1) * sizeof(WCHAR);
    auto* block = static_cast<char*>(LocalAlloc(LMEM_FIXED, bytes));
    if (block == nullptr)
        return nullptr;
    auto* pointers = reinterpret_cast<LPWSTR*>(block);
    auto* text = reinterpret_cast<WCHAR*>(block + (arguments.size() + 1) * sizeof(LPWSTR));
    for (std::size_t k = 0; k < arguments.size(); ++k) {
        pointers[k] = text;
        std::memcpy(text, arguments[k].c_str(), (arguments[k].size() + 1) * sizeof(WCHAR));
        text += arguments[k].size() + 1;
    }
    pointers[arguments.size()] = nullptr;
    *argument_count = static_cast<int>(arguments.size());
    return pointers;
}

namespace winsim {

std::vector<std::u16string> split_windows_command_line(std::u16string_view line) {
    return split_command_line(line);
}

}  // namespace winsim
