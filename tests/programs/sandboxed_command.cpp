// The command that run tests start under protection, to see what it may do and how its output
// and exit code travel back. Usage: sandboxed_command <action> [arguments]
//   streams <out> <err> <code>  writes <out> to standard output and <err> to standard error,
//                               ends with <code>
//   files <op>:<path> ...       tries each operation in turn and writes one line per operation,
//                               "<op> <path>: ok" or "<op> <path>: <Windows error>"; ends with 0.
//                               Operations: create (a new file holding "x", replacing one),
//                               write (appends to an existing file), read (the whole file),
//                               delete, mkdir, list (opens the directory for listing)
//   whoami                      writes the SID of the user it runs as
//   utf8 <blocks>               writes <blocks> blocks of 8,192 bytes of UTF-8 text in which a
//                               four-byte character straddles every block boundary, one block
//                               per write
//   wait-for <path> <code>      waits until <path> exists, then ends with <code>
//   wait-files <path> <op:path>...  waits until <path> exists, then does as files does
//   temp [leave]                for TEMP and then TMP: creates, writes, reads and deletes a file
//                               in the directory the variable names, and writes one line,
//                               "<variable> <directory>: ok" or "...: <Windows error>"; with
//                               "leave", then leaves a nested directory, a file and a read-only
//                               file behind in TEMP; ends with 0
//   desktop                     tries what a program may do with desktops and writes one line
//                               each, "<what>: ok" or "<what>: <Windows error>": the name of the
//                               desktop it is connected to ("connected <name>"), SwitchDesktop
//                               on it, opening it again by name for DESKTOP_SWITCHDESKTOP and
//                               for creating windows, menus and writing objects, and opening
//                               Default for writing; ends with 0
// A failed write to standard output or error ends it with 4.

#include <cstdlib>
#include <string>
#include <vector>

#include "cli/process_arguments.h"
#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"

namespace {

using quarvel::UniqueHandle;
using quarvel::WideString;

[[noreturn]] void finish(UINT code) {
    ExitProcess(code);
}

void write_to(DWORD which, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(GetStdHandle(which), bytes.data() + done,
                       static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
            written == 0)
            finish(4);
        done += written;
    }
}

DWORD outcome(bool succeeded) {
    return succeeded ? 0 : GetLastError();
}

DWORD open_and(const WideString& path, DWORD access, DWORD disposition, DWORD flags,
               const std::string& data) {
    UniqueHandle file(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  disposition, flags, nullptr));
    if (!file)
        return GetLastError();
    if (access == FILE_APPEND_DATA || access == GENERIC_WRITE) {
        DWORD written = 0;
        return outcome(
            WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr));
    }
    if (access == GENERIC_READ) {
        char buffer[256];
        DWORD got = 0;
        return outcome(ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr));
    }
    return 0;
}

DWORD perform(const std::string& op, const WideString& path) {
    if (op == "create")
        return open_and(path, GENERIC_WRITE, CREATE_ALWAYS, 0, "x");
    if (op == "write")
        return open_and(path, FILE_APPEND_DATA, OPEN_EXISTING, 0, "y");
    if (op == "read")
        return open_and(path, GENERIC_READ, OPEN_EXISTING, 0, "");
    if (op == "list")
        return open_and(path, FILE_LIST_DIRECTORY, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, "");
    if (op == "delete")
        return outcome(DeleteFileW(path.c_str()));
    if (op == "mkdir")
        return outcome(CreateDirectoryW(path.c_str(), nullptr));
    return ERROR_INVALID_FUNCTION;
}

void files(const std::vector<WideString>& operations) {
    std::string report;
    for (const auto& operation : operations) {
        const std::string text = quarvel::narrow_lossy(operation);
        const auto colon = text.find(':');
        const std::string op = text.substr(0, colon);
        const std::string path = colon == std::string::npos ? "" : text.substr(colon + 1);
        const DWORD error = perform(op, quarvel::to_wide(path));
        report += op + " " + path + ": " + (error == 0 ? "ok" : std::to_string(error)) + "\n";
    }
    write_to(STD_OUTPUT_HANDLE, report);
}

void whoami() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        finish(5);
    UniqueHandle owned(token);
    std::vector<std::uint64_t> buffer(128);
    DWORD length = 0;
    if (!GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size() * 8),
                             &length))
        finish(5);
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        finish(5);
    quarvel::LocalPtr<WCHAR> owned_text(text);
    write_to(STD_OUTPUT_HANDLE, quarvel::narrow_lossy(text));
}

// Two-byte characters fill each block around one four-byte character that starts two bytes
// before the block's end, so every boundary cuts a character in half.
void utf8_blocks(unsigned long blocks) {
    constexpr std::size_t kBlock = 8192;
    const std::string straddler = "\xF0\x9F\x98\x80";  // U+1F600
    const std::string pair = "\xC3\xA9";               // U+00E9
    std::string all;
    all.reserve(blocks * kBlock);
    while (all.size() < blocks * kBlock) {
        const std::size_t boundary = (all.size() / kBlock + 1) * kBlock;
        while (all.size() + 2 < boundary)
            all += pair;
        all += straddler;
    }
    all.resize(blocks * kBlock - 2);
    all += "\n!";
    for (std::size_t at = 0; at < all.size(); at += kBlock)
        write_to(STD_OUTPUT_HANDLE, all.substr(at, kBlock));
}

WideString variable(const char* name) {
    WCHAR value[1024];
    const DWORD length = GetEnvironmentVariableW(quarvel::to_wide(name).c_str(), value, 1024);
    return length > 0 && length < 1024 ? WideString(value, length) : WideString();
}

DWORD use_file(const WideString& path) {
    for (const char* op : {"create", "read", "delete"})
        if (const DWORD error = perform(op, path))
            return error;
    return 0;
}

void temp(bool leave) {
    std::string report;
    for (const char* name : {"TEMP", "TMP"}) {
        const WideString directory = variable(name);
        const DWORD error = use_file(directory + quarvel::to_wide("\\probe.txt"));
        report += std::string(name) + " " + quarvel::narrow_lossy(directory) + ": " +
                  (error == 0 ? "ok" : std::to_string(error)) + "\n";
    }
    if (leave) {
        const WideString directory = variable("TEMP");
        CreateDirectoryW((directory + quarvel::to_wide("\\left")).c_str(), nullptr);
        CreateDirectoryW((directory + quarvel::to_wide("\\left\\deep")).c_str(), nullptr);
        perform("create", directory + quarvel::to_wide("\\left\\deep\\file.txt"));
        const WideString read_only = directory + quarvel::to_wide("\\read-only.txt");
        perform("create", read_only);
        SetFileAttributesW(read_only.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    write_to(STD_OUTPUT_HANDLE, report);
}

std::string desktop_line(const std::string& what, DWORD error) {
    return what + ": " + (error == 0 ? "ok" : std::to_string(error)) + "\n";
}

// Opens the desktop of this window station by name and closes it again: 0 or the error.
DWORD open_desktop(const WideString& name, DWORD access) {
    const HDESK desktop = OpenDesktopW(name.c_str(), 0, FALSE, access);
    if (desktop == nullptr)
        return GetLastError();
    CloseDesktop(desktop);
    return 0;
}

void desktop() {
    std::string report;
    const HDESK own = GetThreadDesktop(GetCurrentThreadId());
    if (own == nullptr) {
        write_to(STD_OUTPUT_HANDLE, desktop_line("connected", GetLastError()));
        return;
    }
    WCHAR name[256] = {};
    DWORD needed = 0;
    if (!GetUserObjectInformationW(own, UOI_NAME, name, sizeof name, &needed))
        finish(5);
    report += "connected " + quarvel::narrow_lossy(name) + "\n";
    report += desktop_line("switch", outcome(SwitchDesktop(own)));
    report += desktop_line("open for switching", open_desktop(name, DESKTOP_SWITCHDESKTOP));
    report += desktop_line("open for drawing",
                           open_desktop(name, DESKTOP_CREATEWINDOW | DESKTOP_CREATEMENU |
                                                  DESKTOP_READOBJECTS | DESKTOP_WRITEOBJECTS));
    report += desktop_line("open Default for writing",
                           open_desktop(quarvel::to_wide("Default"), GENERIC_WRITE));
    write_to(STD_OUTPUT_HANDLE, report);
}

void wait_for(const WideString& path) {
    while (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        Sleep(10);
}

}  // namespace

int main() {
    const auto arguments = quarvel::cli::process_arguments();
    if (!arguments || arguments->empty())
        finish(2);
    const auto& args = *arguments;
    const std::string action = quarvel::narrow_lossy(args[0]);
    if (action == "streams" && args.size() == 4) {
        write_to(STD_OUTPUT_HANDLE, quarvel::narrow_lossy(args[1]));
        write_to(STD_ERROR_HANDLE, quarvel::narrow_lossy(args[2]));
        finish(static_cast<UINT>(std::stol(quarvel::narrow_lossy(args[3]))));
    }
    if (action == "files") {
        files(std::vector<WideString>(args.begin() + 1, args.end()));
        finish(0);
    }
    if (action == "whoami") {
        whoami();
        finish(0);
    }
    if (action == "utf8" && args.size() == 2) {
        utf8_blocks(std::stoul(quarvel::narrow_lossy(args[1])));
        finish(0);
    }
    if (action == "temp") {
        temp(args.size() == 2 && quarvel::narrow_lossy(args[1]) == "leave");
        finish(0);
    }
    if (action == "wait-files" && args.size() >= 2) {
        wait_for(args[1]);
        files(std::vector<WideString>(args.begin() + 2, args.end()));
        finish(0);
    }
    if (action == "desktop") {
        desktop();
        finish(0);
    }
    if (action == "wait-for" && args.size() == 3) {
        wait_for(args[1]);
        finish(static_cast<UINT>(std::stol(quarvel::narrow_lossy(args[2]))));
    }
    finish(2);
}
