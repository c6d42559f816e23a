// A small program that tests start to call CreateProcessWithLogonW from a process of their
// choosing (one inside a job, say). Usage: logon_probe <account> <password> <program> [argument]
// Starts the program with its argument as the local account, writes the new process's id to
// standard output and ends with 0; ends with 2 for bad usage and 5 when the start fails.

#include <string>

#include "cli/process_arguments.h"
#include "platform/wide_text.h"
#include "platform/win32.h"

int main() {
    const auto arguments = quarvel::cli::process_arguments();
    if (!arguments || arguments->size() < 3 || arguments->size() > 4)
        ExitProcess(2);
    const auto& words = *arguments;
    quarvel::WideString line = words[2] + (words.size() == 4 ? WIDE(" ") + words[3] : WIDE(""));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    if (!CreateProcessWithLogonW(words[0].c_str(), WIDE("."), words[1].c_str(), 0, words[2].c_str(),
                                 line.data(), 0, nullptr, nullptr, &startup, &created))
        ExitProcess(5);
    const std::string id = std::to_string(created.dwProcessId);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), id.data(), static_cast<DWORD>(id.size()), &written,
              nullptr);
    CloseHandle(created.hThread);
    CloseHandle(created.hProcess);
    return 0;
}
