#include "pipe_client_process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "platform/wide_text.h"

namespace quarvel::testing {
namespace {

// The host lane is told at compile time; the Wine lane through the environment, as a host
// path that Wine shows as drive Z:.
std::string program_directory() {
#ifdef QUARVEL_TEST_PROGRAM_DIR
    return QUARVEL_TEST_PROGRAM_DIR;
#else
    const char* directory = std::getenv("QUARVEL_TEST_PROGRAM_DIR");
    std::string path = directory != nullptr ? directory : ".";
    if (!path.empty() && path.front() == '/') {
        for (char& c : path) {
            if (c == '/')
                c = '\\';
        }
        path = "Z:" + path;
    }
    return path;
#endif
}

std::string program_path(const std::string& name) {
#ifdef _WIN32
    return program_directory() + "\\" + name + ".exe";
#else
    return program_directory() + "/" + name;
#endif
}

}  // namespace

ClientProcess start_pipe_client(const std::string& pipe_name, const std::string& action,
                                const std::string& argument) {
    const std::string program = program_path("pipe_client");
    WideString command = to_wide("\"" + program + "\" " + pipe_name + " " + action +
                                 (argument.empty() ? "" : " " + argument));
    const WideString application = to_wide(program);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    ClientProcess client;
    if (!CreateProcessW(application.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &created)) {
        ADD_FAILURE() << "pipe_client could not be started from " << program << ": error "
                      << GetLastError();
        return client;
    }
    CloseHandle(created.hThread);
    client.process.reset(created.hProcess);
    client.id = created.dwProcessId;
    return client;
}

DWORD wait_for_exit_code(HANDLE process, DWORD milliseconds) {
    if (WaitForSingleObject(process, milliseconds) != WAIT_OBJECT_0)
        return 0xFFFFFFFF;
    DWORD code = 0;
    if (!GetExitCodeProcess(process, &code))
        return 0xFFFFFFFF;
    return code;
}

std::string current_user_sid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return "";
    UniqueHandle owned(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
        return "";
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return "";
    LocalPtr<WCHAR> owned_text(text);
    return narrow_lossy(text);
}

}  // namespace quarvel::testing
