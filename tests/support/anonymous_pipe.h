#pragma once
// An anonymous pipe owned by the test, for the code that writes frames or output to a handle.
// Plain Win32 and header-only: the tests of both lanes use it.

#include <gtest/gtest.h>

#include "platform/unique_resource.h"
#include "platform/win32.h"

namespace quarvel::testing {

struct AnonymousPipe {
    UniqueHandle read;
    UniqueHandle write;
};

// `size` is the buffer size CreatePipe is asked for (0: its default); both ends are
// inheritable when asked, for a child's standard handles. A pipe that cannot be created fails
// the test and leaves both ends empty.
inline AnonymousPipe anonymous_pipe(DWORD size = 0, bool inheritable = false) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, inheritable ? TRUE : FALSE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, &attributes, size)) {
        ADD_FAILURE() << "CreatePipe failed with " << GetLastError();
        return {};
    }
    return {UniqueHandle(read), UniqueHandle(write)};
}

}  // namespace quarvel::testing
