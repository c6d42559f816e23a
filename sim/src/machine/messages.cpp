// System message texts, worded as Windows words them (English), each ending in "\r\n", and
// the NTSTATUS texts of ntdll's message table.

#include <winsim/kernel.h>
#include <winsim/modules.h>

#include <cstring>
#include <string_view>
#include <utility>

#include "machine/faults.h"
#include "machine/module_table.h"
#include "machine/object.h"

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
    {1113, u"No mapping for the Unicode character exists in the target multi-byte code page."},
    {1300, u"Not all privileges or groups referenced are assigned to the caller."},
    {1312, u"A specified logon session does not exist. It may already have been terminated."},
    {1314, u"A required privilege is not held by the client."},
    {1326, u"The user name or password is incorrect."},
    {1332, u"No mapping between account names and security IDs was done."},
    {1337, u"The security ID structure is invalid."},
    {13, u"The data is invalid."},
    {126, u"The specified module could not be found."},
    {1325,
     u"Unable to update the password. The value provided for the new password does not meet the "
     u"length, complexity, or history requirements of the domain."},
    {1813, u"The specified resource type cannot be found in the image file."},
    // HRESULTs of COM and of the firewall and data protection calls.
    {0x80004001, u"Not implemented"},
    {0x80004002, u"No such interface supported"},
    {0x80004003, u"Invalid pointer"},
    {0x80004005, u"Unspecified error"},
    {0x8000FFFF, u"Catastrophic failure"},
    {0x80010106, u"Cannot change thread mode after it is set."},
    {0x80040110, u"Class does not support aggregation (or class object is remote)"},
    {0x80040154, u"Class not registered"},
    {0x800401F0, u"CoInitialize has not been called."},
    {0x8009000B, u"Key not valid for use in specified state."},
};

// ntdll's table, read with FORMAT_MESSAGE_FROM_HMODULE: NTSTATUS texts, some in two lines.
constexpr std::pair<DWORD, std::u16string_view> kNtStatusMessages[] = {
    {0xC0000001, u"{Operation Failed}\r\nThe requested operation was unsuccessful."},
    {0xC0000008, u"An invalid HANDLE was specified."},
    {0xC000000D, u"An invalid parameter was passed to a service or function."},
    {0xC0000017,
     u"{Not Enough Quota}\r\nNot enough virtual memory or paging file quota is available to "
     u"complete the specified operation."},
    {0xC0000022,
     u"{Access Denied}\r\nA process has requested access to an object, but has not been granted "
     u"those access rights."},
    {0xC0000034, u"Object Name not found."},
};

template <std::size_t N>
std::u16string_view find_text(const std::pair<DWORD, std::u16string_view> (&table)[N], DWORD id) {
    for (const auto& [number, message] : table)
        if (number == id)
            return message;
    return {};
}

// The system table answers an HRESULT of facility Win32 (0x8007xxxx) with the text of its
// error number when it has no entry of its own.
std::u16string_view system_text(DWORD id) {
    std::u16string_view text = find_text(kSystemMessages, id);
    if (text.empty() && (id & 0xFFFF0000u) == 0x80070000u)
        text = find_text(kSystemMessages, id & 0xFFFFu);
    return text;
}

}  // namespace

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD message_id, DWORD, LPWSTR buffer,
                     DWORD size, void*) {
    if (auto fault = winsim::take_fault("FormatMessageW")) {
        SetLastError(fault->value);
        return 0;
    }
    const bool from_module = (flags & FORMAT_MESSAGE_FROM_HMODULE) != 0;
    const bool from_system = (flags & FORMAT_MESSAGE_FROM_SYSTEM) != 0;
    if ((!from_module && !from_system) || (flags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string_view text;
    if (from_module) {
        // Only ntdll has a message table; the program's own image has none.
        if (source != winsim::ntdll_module() && !from_system) {
            SetLastError(1813);  // ERROR_RESOURCE_TYPE_NOT_FOUND
            return 0;
        }
        if (source == winsim::ntdll_module())
            text = find_text(kNtStatusMessages, message_id);
    }
    if (text.empty() && from_system)
        text = system_text(message_id);
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
