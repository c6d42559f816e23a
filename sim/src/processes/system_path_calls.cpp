// kernel32's system directory and module file name.

#include <winsim/kernel.h>
#include <winsim/system_paths.h>

#include <unistd.h>
#include <algorithm>
#include <string>

#include "machine/faults.h"
#include "processes/system_directory.h"

namespace {

std::string running_program() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string("/");
}

}  // namespace

UINT GetSystemDirectoryW(LPWSTR buffer, UINT size) {
    if (auto fault = winsim::take_fault("GetSystemDirectoryW")) {
        SetLastError(fault->value);
        return 0;
    }
    const std::u16string directory = winsim::system_directory();
    if (directory.empty())
        return 0;  // the machine's state could not be read; the last error says why
    if (buffer == nullptr || size <= directory.size())
        return static_cast<UINT>(directory.size() + 1);
    std::copy(directory.begin(), directory.end(), buffer);
    buffer[directory.size()] = u'\0';
    return static_cast<UINT>(directory.size());
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR file_name, DWORD size) {
    if (auto fault = winsim::take_fault("GetModuleFileNameW")) {
        SetLastError(fault->value);
        return 0;
    }
    if (module != nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    const std::u16string path = winsim::windows_path_of_host(running_program());
    if (size > path.size()) {
        std::copy(path.begin(), path.end(), file_name);
        file_name[path.size()] = u'\0';
        return static_cast<DWORD>(path.size());
    }
    if (size > 0) {
        std::copy(path.begin(), path.begin() + (size - 1), file_name);
        file_name[size - 1] = u'\0';
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}
