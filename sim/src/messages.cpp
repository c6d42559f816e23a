// System message texts, worded as Windows words them (English), each ending in "\r\n".

#include <winsim/kernel.h>

#include <cstring>
#include <string_view>
#include <utility>

#include "faults.h"
#include "object.h"

namespace {

constexpr std::pair<DWORD, std::u16string_view> kSystemMessages[] = {
    {0, u"The operation completed successfully."},
    {1, u"Incorrect function."},
    {2, u"The system cannot find the file specified."},
    {3, u"The system cannot find the path specified."},
    {4, u"The system cannot open the file."},
    {5, u"Access is denied."},
    {6, u"The handle is invalid."},
    {8, u"Not enough memory resources are available to process this command."},
    {14, u"Not enough memory resources are available to complete this operation."},
    {17, u"The system cannot move the file to a different disk drive."},
    {29, u"The system cannot write to the specified device."},
    {31, u"A device attached to the system is not functioning."},
    {32, u"The process cannot access the file because it is being used by another process."},
    {80, u"The file exists."},
    {87, u"The parameter is incorrect."},
    {109, u"The pipe has been ended."},
    {112, u"There is not enough space on the disk."},
    {122, u"The data area passed to a system call is too small."},
    {123, u"The filename, directory name, or volume label syntax is incorrect."},
    {145, u"The directory is not empty."},
    {161, u"The specified path is invalid."},
    {183, u"Cannot create a file when that file already exists."},
    {206, u"The filename or extension is too long."},
    {231, u"All pipe instances are busy."},
    {232, u"The pipe is being closed."},
    {234, u"More data is available."},
    {258, u"The wait operation timed out."},
    {267, u"The directory name is invalid."},
    {535, u"There is a process on other end of the pipe."},
    {536, u"Waiting for a process to open the other end of the pipe."},
    {1300, u"Not all privileges or groups referenced are assigned to the caller."},
    {1312, u"A specified logon session does not exist. It may already have been terminated."},
    {1314, u"A required privilege is not held by the client."},
    {1326, u"The user name or password is incorrect."},
    {1332, u"No mapping between account names and security IDs was done."},
    {1337, u"The security ID structure is invalid."},
};

}  // namespace

DWORD FormatMessageW(DWORD flags, LPCVOID, DWORD message_id, DWORD, LPWSTR buffer, DWORD size,
                     void*) {
    if (auto fault = winsim::take_fault("FormatMessageW")) {
        SetLastError(fault->value);
        return 0;
    }
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (flags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string_view text;
    for (const auto& [id, message] : kSystemMessages) {
        if (id == message_id)
            text = message;
    }
    if (text.empty()) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    std::u16string full(text);
    full += u"\r\n";
    const auto length = static_cast<DWORD>(full.size());
    if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
        auto* block = static_cast<WCHAR*>(LocalAlloc(LMEM_FIXED, (length + 1) * sizeof(WCHAR)));
        if (block == nullptr)
            return 0;
        std::memcpy(block, full.c_str(), (length + 1) * sizeof(WCHAR));
        *reinterpret_cast<LPWSTR*>(buffer) = block;
        return length;
    }
    if (buffer == nullptr || size <= length) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, full.c_str(), (length + 1) * sizeof(WCHAR));
    return length;
}
