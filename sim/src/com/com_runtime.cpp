// ole32's apartments and object creation in the simulated host.

#include "com/com_runtime.h"

#include <winsim/testing.h>

#include <map>
#include <mutex>
#include <utility>

#include "com/error_info.h"
#include "com/firewall_objects.h"
#include "machine/faults.h"
#include "machine/wtf8.h"

namespace winsim {
namespace {

enum class Model { none, single_threaded, multithreaded };

struct Apartment {
    Model model = Model::none;
    unsigned depth = 0;
};

thread_local Apartment this_thread_apartment;

std::atomic<std::size_t> calls_outside_apartment{0};

// Descriptions that the next failure of a method leaves, by method name.
struct PendingDescriptions {
    std::mutex mutex;
    std::map<std::string, std::u16string, std::less<>> by_method;
};

PendingDescriptions& pending_descriptions() {
    static PendingDescriptions instance;
    return instance;
}

// The method the thread is in: methods of the simulated objects do not call each other.
thread_local std::string current_method;

constexpr DWORD kKnownCoinitFlags =
    COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;

}  // namespace

std::atomic<std::size_t>& live_com_object_counter() {
    static std::atomic<std::size_t> counter{0};
    return counter;
}

bool thread_in_apartment() {
    return this_thread_apartment.depth > 0;
}

void note_call_outside_apartment() {
    ++calls_outside_apartment;
}

MethodEntry enter_method(std::string_view method, bool apartment_bound) {
    current_method = method;
    if (apartment_bound && !thread_in_apartment())
        note_call_outside_apartment();
    MethodEntry entry;
    if (auto fault = take_fault(method)) {
        if (fault->kind == FaultKind::quirk)
            entry.quirk = true;
        else
            entry.failure = method_failed(static_cast<HRESULT>(fault->value));
    }
    return entry;
}

HRESULT method_failed(HRESULT result) {
    auto& pending = pending_descriptions();
    std::optional<std::u16string> text;
    {
        std::lock_guard lock(pending.mutex);
        if (auto found = pending.by_method.find(current_method); found != pending.by_method.end()) {
            text = std::move(found->second);
            pending.by_method.erase(found);
        }
    }
    if (text)
        set_thread_error_description(*text);
    return result;
}

std::size_t live_com_objects() {
    return live_com_object_counter();
}

unsigned com_initialization_depth() {
    return this_thread_apartment.depth;
}

std::size_t com_calls_outside_apartment() {
    return calls_outside_apartment;
}

void describe_next_failure_of(std::string_view method, std::string_view description) {
    auto& pending = pending_descriptions();
    std::lock_guard lock(pending.mutex);
    pending.by_method[std::string(method)] = utf16_from_wtf8(description);
}

}  // namespace winsim

HRESULT CoInitializeEx(LPVOID reserved, DWORD coinit) {
    using namespace winsim;
    if (auto fault = take_fault("CoInitializeEx"))
        return static_cast<HRESULT>(fault->value);
    if (reserved != nullptr || (coinit & ~kKnownCoinitFlags) != 0)
        return E_INVALIDARG;
    const Model wanted =
        (coinit & COINIT_APARTMENTTHREADED) != 0 ? Model::single_threaded : Model::multithreaded;
    auto& apartment = this_thread_apartment;
    if (apartment.depth > 0 && apartment.model != wanted)
        return RPC_E_CHANGED_MODE;
    apartment.model = wanted;
    return apartment.depth++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    auto& apartment = winsim::this_thread_apartment;
    if (apartment.depth == 0)
        return;
    if (--apartment.depth == 0)
        apartment.model = winsim::Model::none;
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN outer, DWORD context, REFIID riid,
                         LPVOID* object) {
    using namespace winsim;
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (auto fault = take_fault("CoCreateInstance")) {
        if (fault->kind == FaultKind::fail)
            return static_cast<HRESULT>(fault->value);
        return S_OK;
    }
    if (!thread_in_apartment())
        return CO_E_NOTINITIALIZED;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    // Both classes are in-process servers only.
    if ((context & CLSCTX_INPROC_SERVER) == 0)
        return REGDB_E_CLASSNOTREG;
    return create_firewall_object(rclsid, riid, object);
}
