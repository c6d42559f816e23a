// A program that holds a file or directory open for tests of sharing between processes. Usage:
//   file_holder <path> <access> <share> <flags> <ready> <release> <ending>
// Opens <path> (OPEN_ALWAYS) with the access, share mode and flags given as hexadecimal
// numbers, creates the file <ready>, then waits until the file <release> exists ("-": waits
// until it is killed) and ends: "return" returns from main, "exit-process" calls ExitProcess
// with the handle still open. Ends with 3 and "open failed <error>" on standard error when the
// open fails, 2 on bad arguments.

#include <string>

#include "cli/process_arguments.h"
#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"

namespace {

using namespace quarvel;

DWORD hexadecimal(const WideString& text) {
    return static_cast<DWORD>(std::stoul(narrow_lossy(text), nullptr, 16));
}

void report(const std::string& line) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()),
              &written, nullptr);
}

bool exists(const WideString& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int main() {
    const auto arguments = cli::process_arguments();
    if (!arguments || arguments->size() != 7)
        return 2;
    const auto& given = *arguments;
    const std::string ending = narrow_lossy(given[6]);
    if (ending != "return" && ending != "exit-process")
        return 2;
    UniqueHandle held(CreateFileW(given[0].c_str(), hexadecimal(given[1]), hexadecimal(given[2]),
                                  nullptr, OPEN_ALWAYS, hexadecimal(given[3]), nullptr));
    if (!held) {
        report("open failed " + std::to_string(GetLastError()) + "\n");
        return 3;
    }
    UniqueHandle(CreateFileW(given[4].c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    const bool forever = given[5] == to_wide("-");
    while (forever || !exists(given[5]))
        Sleep(10);
    if (ending == "exit-process")
        ExitProcess(0);  // runs no destructor: the handle is still open as the process ends
    return 0;
}
