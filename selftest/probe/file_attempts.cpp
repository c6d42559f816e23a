#include "selftest/probe/file_attempts.h"

#include "platform/unique_resource.h"
#include "platform/win32.h"

namespace quarvel::selftest {
namespace {

std::uint32_t last_error() {
    return static_cast<std::uint32_t>(GetLastError());
}

std::uint32_t outcome(BOOL succeeded) {
    return succeeded ? 0 : last_error();
}

std::uint32_t write_all(HANDLE file, std::string_view bytes) {
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        return last_error();
    // A write that takes nothing would otherwise pass for one that took everything.
    return written == bytes.size() ? 0 : ERROR_WRITE_FAULT;
}

}  // namespace

std::uint32_t try_create_file(WideView path, std::string_view bytes) {
    const WideString name(path);
    UniqueHandle file(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return last_error();
    return write_all(file.get(), bytes);
}

std::uint32_t try_append_to_file(WideView path, std::string_view bytes) {
    const WideString name(path);
    UniqueHandle file(CreateFileW(name.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return last_error();
    return write_all(file.get(), bytes);
}

std::uint32_t try_read_file(WideView path) {
    const WideString name(path);
    UniqueHandle file(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return last_error();
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr))
            return last_error();
        if (got == 0)
            return 0;
    }
}

std::uint32_t try_delete_file(WideView path) {
    const WideString name(path);
    return outcome(DeleteFileW(name.c_str()));
}

std::uint32_t try_create_directory(WideView path) {
    const WideString name(path);
    return outcome(CreateDirectoryW(name.c_str(), nullptr));
}

std::uint32_t try_remove_directory(WideView path) {
    const WideString name(path);
    return outcome(RemoveDirectoryW(name.c_str()));
}

std::uint32_t try_list_directory(WideView path) {
    const WideString name(path);
    UniqueHandle folder(CreateFileW(name.c_str(), FILE_LIST_DIRECTORY,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return folder ? 0 : last_error();
}

}  // namespace quarvel::selftest
