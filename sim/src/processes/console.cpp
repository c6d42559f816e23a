// The standard handles: the process's descriptors 0, 1 and 2, wrapped on first use.

#include <winsim/kernel.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <mutex>

#include "machine/fd_object.h"
#include "processes/handle_inheritance.h"

namespace {

struct StandardHandles {
    std::mutex mutex;
    HANDLE handles[3] = {nullptr, nullptr, nullptr};
    bool created[3] = {false, false, false};
};

StandardHandles& standard() {
    static StandardHandles instance;
    return instance;
}

int slot_of(DWORD which) {
    if (which == STD_INPUT_HANDLE)
        return 0;
    if (which == STD_OUTPUT_HANDLE)
        return 1;
    if (which == STD_ERROR_HANDLE)
        return 2;
    return -1;
}

// A process whose descriptor is closed has no standard handle: Windows returns null then.
HANDLE wrap_descriptor(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return nullptr;
    const char* type = S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode) ? "Pipe" : "File";
    return winsim::insert_handle(std::make_shared<winsim::FdObject>(fd, type));
}

}  // namespace

HANDLE GetStdHandle(DWORD which) {
    const int slot = slot_of(which);
    if (slot < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    auto& std_handles = standard();
    std::lock_guard lock(std_handles.mutex);
    if (!std_handles.created[slot]) {
        std_handles.created[slot] = true;
        std_handles.handles[slot] = wrap_descriptor(slot);
        if (std_handles.handles[slot] != nullptr && winsim::standard_handle_inherited(slot))
            winsim::set_inheritable(std_handles.handles[slot], true);
    }
    return std_handles.handles[slot];
}

BOOL SetStdHandle(DWORD which, HANDLE handle) {
    const int slot = slot_of(which);
    if (slot < 0)
        return winsim::fail(ERROR_INVALID_HANDLE);
    auto& std_handles = standard();
    std::lock_guard lock(std_handles.mutex);
    std_handles.created[slot] = true;
    std_handles.handles[slot] = handle;
    return TRUE;
}
