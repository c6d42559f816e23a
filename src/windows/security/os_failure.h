#pragma once
// Failures of Windows calls.

#include <string_view>

#include "cli/failure.h"
#include "platform/unique_resource.h"

namespace quarvel {

// code, message + " Windows error " + the thread's last error (unsigned decimal) + ".", exit
// code 70. Reads the last error before anything else: call it right after the failing call.
Failure os_failure(std::string_view code, std::string_view message);

// The handle, owned, when it is neither null nor INVALID_HANDLE_VALUE; otherwise os_failure.
Result<UniqueHandle> checked_handle(HANDLE handle, std::string_view code, std::string_view message);

}  // namespace quarvel
