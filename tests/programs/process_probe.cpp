// A small program that tests start as a child process to see what it received and to make it
// behave in a chosen way. Usage: process_probe <action> [arguments]
//   exit <code>                 ends with the given 32-bit code
//   command-line                writes its command line (UTF-8) to standard output
//   copy-input                  copies standard input to standard output until end of file
//   write-handle <hex> <text>   writes text to an inherited handle given by its value
//   sleep <milliseconds>        waits, then ends with 0
//   spawn-sleeper <ms>          starts "sleep <ms>" as a child, prints its process id, ends
//   emit <pattern>              writes a known byte pattern to standard output:
//                               large (20,000 bytes in one write), straddle (four-byte
//                               characters across each of five 8,192-byte boundaries, written
//                               8,192 bytes at a time), invalid ("f", 0xFF, "g")
// A failed write to standard output ends it with 4, a failed write to a handle with 3.

#include <cstdlib>
#include <string>

#include "cli/process_arguments.h"
#include "platform/wide_text.h"
#include "platform/win32.h"

namespace {

using quarvel::WideString;

bool write_all(HANDLE handle, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                       &written, nullptr) ||
            written == 0)
            return false;
        done += written;
    }
    return true;
}

[[noreturn]] void finish(UINT code) {
    ExitProcess(code);
}

void write_output(const std::string& bytes) {
    if (!write_all(GetStdHandle(STD_OUTPUT_HANDLE), bytes))
        finish(4);
}

std::string narrow(const WideString& text) {
    return quarvel::narrow_lossy(text);
}

void copy_input() {
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) ||
            got == 0)
            return;
        write_output(std::string(buffer, got));
    }
}

void spawn_sleeper(const WideString& milliseconds) {
    WideString line = GetCommandLineW();
    // The program is the first word; run it again with "sleep".
    const auto end = line[0] == WIDE('"') ? line.find(WIDE('"'), 1) + 1 : line.find(WIDE(' '));
    WideString command = line.substr(0, end) + WIDE(" sleep ") + milliseconds;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        finish(5);
    write_output(std::to_string(process.dwProcessId));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

std::string pattern(const std::string& name) {
    std::string bytes;
    if (name == "large") {
        while (bytes.size() < 20000)
            bytes += "0123456789abcdef\n";
        bytes.resize(20000);
    } else if (name == "straddle") {
        for (std::size_t boundary = 1; boundary <= 5; ++boundary) {
            const std::size_t before = (boundary - 1) % 3 + 1;
            bytes.append(boundary * 8192 - before - bytes.size(), 'x');
            bytes += "\xF0\x9F\x98\x80";
        }
    } else if (name == "invalid") {
        bytes = "f\xFFg";
    }
    return bytes;
}

void emit(const std::string& name) {
    const std::string bytes = pattern(name);
    const std::size_t piece = name == "straddle" ? 8192 : bytes.size();
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        write_output(bytes.substr(at, piece));
}

}  // namespace

int main() {
    const auto arguments = quarvel::cli::process_arguments();
    if (!arguments || arguments->empty())
        finish(64);
    const auto& args = *arguments;
    const std::string action = narrow(args[0]);
    if (action == "exit" && args.size() == 2)
        finish(static_cast<UINT>(std::strtoul(narrow(args[1]).c_str(), nullptr, 10)));
    if (action == "command-line") {
        write_output(narrow(GetCommandLineW()));
        finish(0);
    }
    if (action == "copy-input") {
        copy_input();
        finish(0);
    }
    if (action == "write-handle" && args.size() == 3) {
        const auto value = std::strtoull(narrow(args[1]).c_str(), nullptr, 16);
        finish(
            write_all(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value)), narrow(args[2]))
                ? 0
                : 3);
    }
    if (action == "sleep" && args.size() == 2) {
        Sleep(static_cast<DWORD>(std::strtoul(narrow(args[1]).c_str(), nullptr, 10)));
        finish(0);
    }
    if (action == "emit" && args.size() == 2) {
        emit(narrow(args[1]));
        finish(0);
    }
    if (action == "spawn-sleeper" && args.size() == 2) {
        spawn_sleeper(args[1]);
        finish(0);
    }
    finish(64);
}
