#pragma once
// Starting one of the test programs as a separate process and waiting for what it does, with
// the calls the program itself makes: for both test binaries (the simulated host's processes
// and Wine's).

#include <cstdlib>
#include <string>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"

namespace quarvel::testing {

struct StartedProgram {
    UniqueHandle process;
    UniqueHandle thread;
};

// A test program of the cross build under Wine: QUARVEL_TEST_PROGRAM_DIR names its folder as a
// host path, which Wine shows on drive Z:.
inline std::string wine_test_program(const std::string& name) {
    const char* directory = std::getenv("QUARVEL_TEST_PROGRAM_DIR");
    std::string path = directory != nullptr ? directory : ".";
    if (!path.empty() && path.front() == '/') {
        for (char& c : path)
            if (c == '/')
                c = '\\';
        path = "Z:" + path;
    }
    return path + "\\" + name + ".exe";
}

// What a handle gives until its writer closes it (or a read fails).
inline std::string read_all(HANDLE handle) {
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(handle, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    return text;
}

// `program` is the path of the executable; the arguments are appended as given. `flags` are
// the creation flags (CREATE_SUSPENDED for a test that decides what happens before it runs).
// Both handles are empty when the process cannot be created.
inline StartedProgram start_program(const std::string& program, const std::string& arguments,
                                    DWORD flags = 0) {
    WideString line = to_wide("\"" + program + "\" " + arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                        &startup, &created))
        return {};
    return {UniqueHandle(created.hProcess), UniqueHandle(created.hThread)};
}

// The exit code once the process has ended, or 0xFFFFFFFF when it does not end in time.
inline DWORD exit_code_within(HANDLE process, DWORD milliseconds) {
    if (WaitForSingleObject(process, milliseconds) != WAIT_OBJECT_0)
        return 0xFFFFFFFF;
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process, &code);
    return code;
}

// Whether `path` comes to exist within the time.
inline bool appears_within(const WideString& path, int milliseconds) {
    for (int waited = 0; waited < milliseconds; waited += 10) {
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            return true;
        Sleep(10);
    }
    return false;
}

}  // namespace quarvel::testing
