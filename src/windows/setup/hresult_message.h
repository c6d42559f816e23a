#pragma once
// The message of a failed COM call, as the firewall failures carry it.

#include <string>
#include <string_view>

#include "cli/failure.h"
#include "platform/win32.h"

namespace quarvel {

// The description the failing call left for the thread (GetErrorInfo, which also clears it),
// else the system's text for the HRESULT (ntdll's NTSTATUS texts when the 0x10000000 bit is
// set), trailing whitespace removed; then " (0x" and eight upper-case hexadecimal digits and
// ")". Without any text, the hexadecimal form alone: "0x80004005". Call it right after the
// failing call, before any other COM call can replace the thread's error object.
std::string hresult_message(HRESULT result);

// Failure with the code, hresult_message as its message, exit code 70.
Failure com_failure(std::string_view code, HRESULT result);

}  // namespace quarvel
