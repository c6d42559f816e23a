#pragma once
// Kernel objects and the per-process handle table of the simulated host.

#include <winsim/types.h>

#include <memory>
#include <string>

namespace winsim {

// Every object a handle can refer to. The I/O calls dispatch here; an object that does not
// support an operation answers with the error Windows gives for a wrong handle type.
class KernelObject {
  public:
    virtual ~KernelObject() = default;
    virtual const char* type_name() const = 0;

    // Each returns 0 on success or a Windows error number.
    virtual DWORD read(void* buffer, DWORD size, DWORD& transferred);
    virtual DWORD write(const void* buffer, DWORD size, DWORD& transferred);
    virtual DWORD flush();
};

// Adds the object to this process's handle table; the table holds one reference per handle.
HANDLE insert_handle(std::shared_ptr<KernelObject> object);

// The object behind a handle, or null when the handle is not open in this process.
std::shared_ptr<KernelObject> object_from_handle(HANDLE handle);

template <class T>
std::shared_ptr<T> object_as(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(object_from_handle(handle));
}

// The type name of the object behind a handle ("Process", "Pipe", ...), or "" when the handle
// is not open; fault injection qualifies calls on several kinds of object with it.
const char* type_of(HANDLE handle);

// Removes the handle; false when it was not open.
bool remove_handle(HANDLE handle);

// Sets the thread's last error and returns FALSE, the usual way a BOOL call fails.
BOOL fail(DWORD error);

}  // namespace winsim
