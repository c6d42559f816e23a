#include "machine/object.h"

#include <winsim/kernel.h>
#include <winsim/testing.h>

#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "machine/faults.h"
#include "processes/handle_inheritance.h"

namespace winsim {
namespace {

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
    // Windows hands out multiples of 4; starting high keeps them clear of small integers
    // that a buggy caller might confuse with handles.
    std::uintptr_t next = 0x1000;
};

HandleTable& table() {
    static HandleTable instance;
    // A child finds the handles it inherited under the values its creator used.
    static std::once_flag adopted;
    std::call_once(adopted, [] {
        for (auto& inherited : adopt_inherited_handles()) {
            instance.next = std::max(instance.next, inherited.value + 4);
            instance.objects.emplace(inherited.value, std::move(inherited.object));
        }
    });
    return instance;
}

}  // namespace

DWORD KernelObject::read(void*, DWORD, DWORD& transferred) {
    transferred = 0;
    return ERROR_INVALID_HANDLE;
}

DWORD KernelObject::write(const void*, DWORD, DWORD& transferred) {
    transferred = 0;
    return ERROR_INVALID_HANDLE;
}

DWORD KernelObject::flush() {
    return ERROR_INVALID_HANDLE;
}

HANDLE insert_handle(std::shared_ptr<KernelObject> object) {
    auto& handles = table();
    std::lock_guard lock(handles.mutex);
    const auto value = handles.next;
    handles.next += 4;
    handles.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> object_from_handle(HANDLE handle) {
    auto& handles = table();
    std::lock_guard lock(handles.mutex);
    const auto found = handles.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == handles.objects.end() ? nullptr : found->second;
}

bool remove_handle(HANDLE handle) {
    std::shared_ptr<KernelObject> released;
    {
        auto& handles = table();
        std::lock_guard lock(handles.mutex);
        const auto found = handles.objects.find(reinterpret_cast<std::uintptr_t>(handle));
        if (found == handles.objects.end())
            return false;
        released = std::move(found->second);
        handles.objects.erase(found);
    }
    // The object may be destroyed here, outside the table's lock: its destructor can block
    // (a process object waiting for nothing, a pipe telling its peer) or take other locks.
    return true;
}

const char* type_of(HANDLE handle) {
    const auto object = object_from_handle(handle);
    return object ? object->type_name() : "";
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

std::size_t open_handle_count() {
    auto& handles = table();
    std::lock_guard lock(handles.mutex);
    return handles.objects.size();
}

}  // namespace winsim

namespace {
thread_local DWORD thread_last_error = 0;
}

DWORD GetLastError() {
    return thread_last_error;
}

void SetLastError(DWORD error) {
    thread_last_error = error;
}

BOOL CloseHandle(HANDLE handle) {
    // Windows refuses to close only a handle that is not (or no longer) valid: after a failure
    // the handle is gone all the same, so an injected failure closes it and reports the error.
    if (auto fault = winsim::take_fault("CloseHandle", winsim::type_of(handle));
        fault && fault->kind == winsim::FaultKind::fail) {
        winsim::remove_handle(handle);
        return winsim::fail(fault->value);
    }
    if (!winsim::remove_handle(handle))
        return winsim::fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes_to_read, LPDWORD bytes_read, LPOVERLAPPED) {
    if (bytes_read != nullptr)
        *bytes_read = 0;
    const auto object = winsim::object_from_handle(file);
    if (auto fault = winsim::take_fault("ReadFile", object ? object->type_name() : "")) {
        if (fault->kind == winsim::FaultKind::fail)
            return winsim::fail(fault->value);
        return TRUE;  // quirk: success with zero bytes
    }
    if (!object)
        return winsim::fail(ERROR_INVALID_HANDLE);
    DWORD transferred = 0;
    const DWORD error = object->read(buffer, bytes_to_read, transferred);
    if (bytes_read != nullptr)
        *bytes_read = transferred;
    return error == 0 ? TRUE : winsim::fail(error);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes_to_write, LPDWORD bytes_written,
               LPOVERLAPPED) {
    if (bytes_written != nullptr)
        *bytes_written = 0;
    const auto object = winsim::object_from_handle(file);
    if (auto fault = winsim::take_fault("WriteFile", object ? object->type_name() : "")) {
        if (fault->kind == winsim::FaultKind::fail)
            return winsim::fail(fault->value);
        return TRUE;  // quirk: success with zero bytes
    }
    if (!object)
        return winsim::fail(ERROR_INVALID_HANDLE);
    DWORD transferred = 0;
    const DWORD error = object->write(buffer, bytes_to_write, transferred);
    if (bytes_written != nullptr)
        *bytes_written = transferred;
    return error == 0 ? TRUE : winsim::fail(error);
}

BOOL FlushFileBuffers(HANDLE file) {
    const auto object = winsim::object_from_handle(file);
    WINSIM_FAIL_IF_INJECTED_ON("FlushFileBuffers", object ? object->type_name() : "");
    if (!object)
        return winsim::fail(ERROR_INVALID_HANDLE);
    const DWORD error = object->flush();
    return error == 0 ? TRUE : winsim::fail(error);
}
