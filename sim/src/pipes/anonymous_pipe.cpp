// Anonymous pipes and the inheritance attribute of handles.

#include <winsim/kernel.h>
#include <winsim/process.h>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

#include "machine/faults.h"
#include "machine/fd_object.h"
#include "machine/object.h"
#include "processes/handle_inheritance.h"

BOOL CreatePipe(PHANDLE read_end, PHANDLE write_end, LPSECURITY_ATTRIBUTES attributes, DWORD) {
    WINSIM_FAIL_IF_INJECTED("CreatePipe");
    if (read_end == nullptr || write_end == nullptr)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    int ends[2];
    // Close-on-exec: a descriptor reaches a child only through the simulated inheritance.
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return winsim::fail(winsim::windows_error_from_errno(errno));
    *read_end = winsim::insert_handle(std::make_shared<winsim::FdObject>(ends[0], "Pipe"));
    *write_end = winsim::insert_handle(std::make_shared<winsim::FdObject>(ends[1], "Pipe"));
    const bool inheritable = attributes != nullptr && attributes->bInheritHandle;
    winsim::set_inheritable(*read_end, inheritable);
    winsim::set_inheritable(*write_end, inheritable);
    return TRUE;
}

BOOL SetHandleInformation(HANDLE handle, DWORD mask, DWORD flags) {
    WINSIM_FAIL_IF_INJECTED("SetHandleInformation");
    if (!winsim::object_from_handle(handle))
        return winsim::fail(ERROR_INVALID_HANDLE);
    if ((mask & HANDLE_FLAG_INHERIT) != 0)
        winsim::set_inheritable(handle, (flags & HANDLE_FLAG_INHERIT) != 0);
    return TRUE;
}

BOOL GetHandleInformation(HANDLE handle, LPDWORD flags) {
    WINSIM_FAIL_IF_INJECTED("GetHandleInformation");
    if (!winsim::object_from_handle(handle) || flags == nullptr)
        return winsim::fail(ERROR_INVALID_HANDLE);
    *flags = winsim::is_inheritable(handle) ? HANDLE_FLAG_INHERIT : 0;
    return TRUE;
}
