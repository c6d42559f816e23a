// kernel32's CopyFileW and GetTempPathW in the simulated host.

#include <winsim/files.h>
#include <winsim/kernel.h>
#include <winsim/process.h>

#include <sys/stat.h>
#include <algorithm>
#include <string>

#include "files/file_paths.h"
#include "machine/faults.h"
#include "machine/object.h"
#include "processes/system_directory.h"

namespace {

// The handle's owner closes it keeping the last error, as the copy reports the first failure.
class OwnedFile {
  public:
    explicit OwnedFile(HANDLE handle) : handle_(handle) {}
    ~OwnedFile() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            CloseHandle(handle_);
            SetLastError(error);
        }
    }
    OwnedFile(const OwnedFile&) = delete;
    OwnedFile& operator=(const OwnedFile&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE handle_;
};

BOOL copy_bytes(HANDLE from, HANDLE to) {
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from, buffer, sizeof buffer, &got, nullptr))
            return FALSE;
        if (got == 0)
            return TRUE;
        DWORD done = 0;
        while (done < got) {
            DWORD written = 0;
            if (!WriteFile(to, buffer + done, got - done, &written, nullptr))
                return FALSE;
            if (written == 0)
                return winsim::fail(ERROR_WRITE_FAULT);
            done += written;
        }
    }
}

// The value of the first of these variables that is set and not empty.
std::u16string first_variable(std::initializer_list<const char16_t*> names) {
    for (const char16_t* name : names) {
        char16_t value[32768];
        const DWORD length = GetEnvironmentVariableW(name, value, 32768);
        if (length > 0 && length < 32768)
            return std::u16string(value, length);
    }
    return {};
}

}  // namespace

BOOL CopyFileW(LPCWSTR existing, LPCWSTR copy, BOOL fail_if_exists) {
    WINSIM_FAIL_IF_INJECTED("CopyFileW");
    OwnedFile from(
        CreateFileW(existing, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!from.valid())
        return FALSE;
    OwnedFile to(CreateFileW(copy, GENERIC_WRITE, 0, nullptr,
                             fail_if_exists ? CREATE_NEW : CREATE_ALWAYS, 0, nullptr));
    if (!to.valid())
        return FALSE;
    if (!copy_bytes(from.get(), to.get()))
        return FALSE;
    // The file's attributes go with the copy: on this host its permission bits, which also say
    // whether it may run.
    const auto source = winsim::host_path_for(existing);
    const auto target = winsim::host_path_for(copy);
    struct stat status {};
    if (source && target && ::stat(source->c_str(), &status) == 0)
        ::chmod(target->c_str(), status.st_mode & 07777);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

DWORD GetTempPathW(DWORD size, LPWSTR buffer) {
    if (auto fault = winsim::take_fault("GetTempPathW")) {
        SetLastError(fault->value);
        return 0;
    }
    std::u16string path = first_variable({u"TMP", u"TEMP", u"USERPROFILE"});
    if (path.empty())
        path = winsim::windows_directory();
    if (path.back() != u'\\')
        path += u'\\';
    if (buffer == nullptr || size <= path.size())
        return static_cast<DWORD>(path.size() + 1);
    std::copy(path.begin(), path.end(), buffer);
    buffer[path.size()] = u'\0';
    return static_cast<DWORD>(path.size());
}
