// kernel32's CreateMutexW and ReleaseMutex.

#include <winsim/kernel.h>
#include <winsim/synchronization.h>

#include <string>

#include "machine/faults.h"
#include "machine/object.h"
#include "machine/wtf8.h"
#include "synchronization/named_mutex.h"

namespace {

HANDLE fail_null(DWORD error) {
    SetLastError(error);
    return nullptr;
}

// The namespace and name: "Local\" (the session's, also for names without a prefix) or
// "Global\". The prefixes are matched as written, like every object name here.
struct MutexName {
    std::u16string key;
    DWORD error = ERROR_SUCCESS;
};
MutexName mutex_key(std::u16string_view name) {
    if (name.size() > MAX_PATH)
        return {u"", ERROR_FILENAME_EXCED_RANGE};
    std::u16string_view space = u"Local";
    for (const std::u16string_view prefix :
         {std::u16string_view(u"Global"), std::u16string_view(u"Local")}) {
        if (name.size() > prefix.size() && name.starts_with(prefix) &&
            name[prefix.size()] == u'\\') {
            space = prefix;
            name.remove_prefix(prefix.size() + 1);
            break;
        }
    }
    // A further backslash names a directory of the namespace that does not exist.
    if (name.find(u'\\') != std::u16string_view::npos)
        return {u"", ERROR_PATH_NOT_FOUND};
    return {std::u16string(space) + u"\\" + std::u16string(name), ERROR_SUCCESS};
}

}  // namespace

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initial_owner, LPCWSTR name) {
    if (auto fault = winsim::take_fault("CreateMutexW"))
        return fail_null(fault->value);
    std::shared_ptr<winsim::Mutex> mutex;
    bool existed = false;
    if (name == nullptr || *name == u'\0') {
        mutex = std::make_shared<winsim::Mutex>();
    } else {
        const auto key = mutex_key(name);
        if (key.error != ERROR_SUCCESS)
            return fail_null(key.error);
        mutex = winsim::Mutex::open_named(winsim::wtf8_from_utf16(key.key), existed);
        if (!mutex)
            return nullptr;
    }
    if (initial_owner && !existed)
        (void)mutex->acquire(INFINITE);
    const HANDLE handle = winsim::insert_handle(std::make_shared<winsim::MutexObject>(mutex));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL ReleaseMutex(HANDLE mutex) {
    WINSIM_FAIL_IF_INJECTED("ReleaseMutex");
    const auto object = winsim::object_as<winsim::MutexObject>(mutex);
    if (!object)
        return winsim::fail(ERROR_INVALID_HANDLE);
    if (const DWORD error = object->mutex().release(); error != ERROR_SUCCESS)
        return winsim::fail(error);
    return TRUE;
}
