// A small program that tests start as a child process to see what it received and to make it
// behave in a chosen way. Usage: process_probe <action> [arguments]
//   exit <code>                 ends with the given 32-bit code
//   command-line                writes its command line (UTF-8) to standard output
//   copy-input                  copies standard input to standard output until end of file
//   write-handle <hex> <text>   writes text to an inherited handle given by its value
//   sleep <milliseconds>        waits, then ends with 0
//   spawn-sleeper <ms> [breakaway]
//                               starts "sleep <ms>" as a child (asking it to leave this
//                               process's jobs with "breakaway"), prints its process id and a
//                               line feed, ends;
//                               when the child cannot be started, ends with the last error
//   emit <pattern>              writes a known byte pattern to standard output:
//                               large (20,000 bytes in one write), straddle (four-byte
//                               characters across each of five 8,192-byte boundaries, written
//                               8,192 bytes at a time), invalid ("f", 0xFF, "g")
//   stream <bytes>              writes that many bytes of text lines to standard output in
//                               writes of 8,192 bytes (the last one shorter)
//   hold-job <end>              starts "sleep 60000" in a kill-on-close job whose one handle it
//                               never closes, prints the sleeper's process id and a line feed,
//                               then ends as <end> says: wait (until killed), exit
//                               (ExitProcess), return (from main)
//   list-handles                writes the values (hexadecimal, one a line) of the handles it
//                               holds among the first 4,096 values from 0x1000 before it opens
//                               any handle of its own: what it inherited
//   standard-flags              writes, for standard input, output and error, 1 when the handle
//                               is inheritable, 0 when not, - when there is none
//   open-process <pid> <hex>    OpenProcess with that access; ends with 0 or the last error
//   create-pipe                 CreatePipe; ends with 0 or the last error
//   relay <inherit|block> ...   CreatePipe (ends with 99 when it fails), then runs this program
//                               with the remaining arguments, with its own environment or an
//                               explicit block holding only "RELAYED=1", and ends with that
//                               child's exit code
// A failed write to standard output ends it with 4, a failed write to a handle with 3.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cli/process_arguments.h"
#include "platform/wide_text.h"
#include "platform/win32.h"

namespace {

using quarvel::WideString;

bool write_all(HANDLE handle, std::string_view bytes) {
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

// This program's own command-line form, for starting it again.
WideString own_program() {
    WideString line = GetCommandLineW();
    const auto end = line[0] == WIDE('"') ? line.find(WIDE('"'), 1) + 1 : line.find(WIDE(' '));
    return line.substr(0, end);
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

void spawn_sleeper(const WideString& milliseconds, DWORD flags) {
    // The program is the first word; run it again with "sleep".
    WideString command = own_program() + WIDE(" sleep ") + milliseconds;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                        &startup, &process))
        finish(static_cast<UINT>(GetLastError()));
    // A whole line: the sleeper keeps this program's standard output open, so a reader cannot
    // wait for its end.
    write_output(std::to_string(process.dwProcessId) + "\n");
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

UINT last_error_or_success(BOOL succeeded) {
    return succeeded ? 0 : static_cast<UINT>(GetLastError());
}

PROCESS_INFORMATION start_again(const WideString& arguments, DWORD flags, LPVOID environment) {
    WideString command = own_program() + WIDE(" ") + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                        flags | CREATE_UNICODE_ENVIRONMENT, environment, nullptr, &startup,
                        &process))
        finish(5);
    return process;
}

// The job handle is left open on purpose: the process ends holding it.
int hold_job(const std::string& end) {
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job == nullptr ||
        !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits))
        finish(6);
    const auto sleeper = start_again(WIDE("sleep 60000"), CREATE_SUSPENDED, nullptr);
    if (!AssignProcessToJobObject(job, sleeper.hProcess) ||
        ResumeThread(sleeper.hThread) == 0xFFFFFFFF)
        finish(7);
    write_output(std::to_string(sleeper.dwProcessId) + "\n");
    CloseHandle(sleeper.hThread);
    CloseHandle(sleeper.hProcess);
    if (end == "exit")
        finish(0);
    if (end == "wait")
        Sleep(INFINITE);
    return 0;
}

void list_handles() {
    std::string values;
    for (std::uintptr_t value = 0x1000; value < 0x1000 + 4096 * 4; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            values += std::to_string(value) + "\n";
    }
    write_output(values);
}

UINT relay(const std::string& environment, const WideString& arguments) {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, nullptr, 0))
        finish(99);
    CloseHandle(read);
    CloseHandle(write);
    WideString block = WIDE("RELAYED=1");
    block.push_back(0);
    block.push_back(0);
    const auto child = start_again(arguments, 0, environment == "block" ? block.data() : nullptr);
    CloseHandle(child.hThread);
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hProcess);
    return code;
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

// Lines of plain text, the kind most commands print: 8,192 bytes that end on no particular
// character, so that line feeds fall anywhere in the writes.
void stream(std::uint64_t count) {
    std::string piece;
    for (unsigned line = 0; piece.size() < 8192; ++line)
        piece.append("line ")
            .append(std::to_string(line))
            .append(":\tthe quick brown fox jumps over the lazy dog\n");
    piece.resize(8192);
    for (std::uint64_t left = count; left > 0;) {
        const std::size_t size =
            left < piece.size() ? static_cast<std::size_t>(left) : piece.size();
        if (!write_all(GetStdHandle(STD_OUTPUT_HANDLE), std::string_view(piece).substr(0, size)))
            finish(4);
        left -= size;
    }
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
    if (action == "stream" && args.size() == 2) {
        stream(std::strtoull(narrow(args[1]).c_str(), nullptr, 10));
        finish(0);
    }
    if (action == "spawn-sleeper" && (args.size() == 2 || args.size() == 3)) {
        const bool breakaway = args.size() == 3 && narrow(args[2]) == "breakaway";
        spawn_sleeper(args[1], breakaway ? CREATE_BREAKAWAY_FROM_JOB : 0);
        finish(0);
    }
    if (action == "hold-job" && args.size() == 2)
        return hold_job(narrow(args[1]));
    if (action == "list-handles") {
        list_handles();
        finish(0);
    }
    if (action == "standard-flags") {
        std::string flags;
        for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
            DWORD value = 0;
            const HANDLE handle = GetStdHandle(which);
            flags += handle == nullptr || !GetHandleInformation(handle, &value)
                         ? '-'
                         : ((value & HANDLE_FLAG_INHERIT) != 0 ? '1' : '0');
        }
        write_output(flags);
        finish(0);
    }
    if (action == "open-process" && args.size() == 3) {
        const auto pid = static_cast<DWORD>(std::strtoul(narrow(args[1]).c_str(), nullptr, 10));
        const auto access = static_cast<DWORD>(std::strtoul(narrow(args[2]).c_str(), nullptr, 16));
        const HANDLE process = OpenProcess(access, FALSE, pid);
        const UINT result = last_error_or_success(process != nullptr);
        if (process != nullptr)
            CloseHandle(process);
        finish(result);
    }
    if (action == "create-pipe") {
        HANDLE read = nullptr;
        HANDLE write = nullptr;
        const UINT result = last_error_or_success(CreatePipe(&read, &write, nullptr, 0));
        finish(result);
    }
    if (action == "relay" && args.size() >= 3) {
        WideString rest;
        for (std::size_t k = 2; k < args.size(); ++k)
            rest += (k > 2 ? WIDE(" ") : WIDE("")) + args[k];
        finish(relay(narrow(args[1]), rest));
    }
    finish(64);
}
