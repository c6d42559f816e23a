// user32 window station and desktop calls of the simulated host. Opening a desktop, and the
// connection a process makes to its own, are checked against the desktop's DACL with the
// caller's token and the desktop type's generic mapping; a handle keeps the rights it was
// granted, and SwitchDesktop asks for DESKTOP_SWITCHDESKTOP among them.

#include <winsim/desktop.h>
#include <winsim/kernel.h>
#include <winsim/process.h>

#include <unistd.h>
#include <cstring>
#include <mutex>
#include <nlohmann/json.hpp>

#include "files/file_security.h"
#include "machine/faults.h"
#include "machine/machine.h"
#include "machine/object.h"
#include "processes/desktop_records.h"
#include "security/access_check.h"
#include "security/token.h"

#ifndef ERROR_BUSY
#define ERROR_BUSY 170L
#endif

namespace winsim {
namespace {

constexpr const char* kInputDesktopState = "input_desktop.json";

// GetProcessWindowStation's answer: a value no handle table entry has.
HWINSTA process_window_station() {
    return reinterpret_cast<HWINSTA>(std::uintptr_t{0x0FF0});
}

class DesktopObject : public KernelObject {
  public:
    // `record_key` is set for the handle CreateDesktopW returned: its close ends the record.
    DesktopObject(std::u16string station, std::u16string name, DWORD granted,
                  std::string record_key = {})
        : station_(std::move(station)),
          name_(std::move(name)),
          granted_(granted),
          record_key_(std::move(record_key)) {}
    ~DesktopObject() override {
        if (!record_key_.empty())
            forget_desktop(record_key_);
    }
    DesktopObject(const DesktopObject&) = delete;
    DesktopObject& operator=(const DesktopObject&) = delete;
    const char* type_name() const override { return "Desktop"; }
    const std::u16string& station() const { return station_; }
    const std::u16string& name() const { return name_; }
    DWORD granted() const { return granted_; }

  private:
    std::u16string station_;
    std::u16string name_;
    DWORD granted_;
    std::string record_key_;
};

BOOL answer_name(const std::u16string& name, PVOID information, DWORD length, LPDWORD needed) {
    const DWORD bytes = static_cast<DWORD>((name.size() + 1) * sizeof(char16_t));
    if (needed != nullptr)
        *needed = bytes;
    if (information == nullptr || length < bytes)
        return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(information, name.c_str(), bytes);
    return TRUE;
}

// The rights a request for `desired` (generic rights and MAXIMUM_ALLOWED included) is granted
// on the desktop, or nothing when any right asked for by name is refused.
std::optional<DWORD> desktop_access(const DesktopRecord& desktop, DWORD desired) {
    const TokenState token = process_token_object()->snapshot();
    const DWORD named = map_generic_rights(desired & ~MAXIMUM_ALLOWED, kDesktopGenericMapping);
    if ((desired & MAXIMUM_ALLOWED) == 0) {
        if (!object_access_granted(token, desktop.security, named, kDesktopGenericMapping))
            return std::nullopt;
        return named;
    }
    // Asking for the most there is gets nothing when there is nothing, as an access check
    // that grants no right at all fails.
    const DWORD maximum = maximum_allowed_access(token, desktop.security, kDesktopGenericMapping);
    if (maximum == 0 || (named & ~maximum) != 0)
        return std::nullopt;
    return maximum;
}

// The connection to the process's desktop, made at the first call that needs it with
// MAXIMUM_ALLOWED ("Thread Connection to a Desktop"); every thread of the process shares it.
struct Connection {
    HDESK handle = nullptr;
    DWORD error = ERROR_SUCCESS;
};

Connection connect_to_desktop() {
    const DesktopPath path = process_desktop_path();
    const auto desktop = find_desktop(path.station, path.desktop);
    if (!desktop)
        return {nullptr, ERROR_FILE_NOT_FOUND};
    const auto granted = desktop_access(*desktop, MAXIMUM_ALLOWED);
    if (!granted)
        return {nullptr, ERROR_ACCESS_DENIED};
    return {reinterpret_cast<HDESK>(insert_handle(
                std::make_shared<DesktopObject>(path.station, desktop->name, *granted))),
            ERROR_SUCCESS};
}

std::mutex connection_guard;
Connection connection;

Connection process_connection() {
    std::lock_guard lock(connection_guard);
    if (connection.handle == nullptr)
        connection = connect_to_desktop();
    return connection;
}

bool is_connection(HDESK desktop) {
    std::lock_guard lock(connection_guard);
    return desktop != nullptr && connection.handle == desktop;
}

bool is_thread_of_this_process(DWORD thread_id) {
    const std::string task = "/proc/self/task/" + std::to_string(thread_id);
    return ::access(task.c_str(), F_OK) == 0;
}

}  // namespace
}  // namespace winsim

DWORD GetCurrentThreadId() {
    return static_cast<DWORD>(::gettid());
}

HWINSTA GetProcessWindowStation() {
    if (auto fault = winsim::take_fault("GetProcessWindowStation")) {
        SetLastError(fault->value);
        return nullptr;
    }
    return winsim::process_window_station();
}

BOOL GetUserObjectInformationW(HANDLE object, int index, PVOID information, DWORD length,
                               LPDWORD needed) {
    if (auto fault = winsim::take_fault("GetUserObjectInformationW")) {
        if (needed != nullptr)
            *needed = 0;
        return winsim::fail(fault->value);
    }
    if (index != UOI_NAME)
        return winsim::fail(ERROR_INVALID_PARAMETER);
    if (object == reinterpret_cast<HANDLE>(winsim::process_window_station()))
        return winsim::answer_name(winsim::window_station_name(), information, length, needed);
    const auto desktop = winsim::object_as<winsim::DesktopObject>(object);
    if (!desktop)
        return winsim::fail(ERROR_INVALID_HANDLE);
    return winsim::answer_name(desktop->name(), information, length, needed);
}

HDESK CreateDesktopW(LPCWSTR name, LPCWSTR, LPDEVMODEW, DWORD, DWORD desired_access,
                     LPSECURITY_ATTRIBUTES attributes) {
    if (auto fault = winsim::take_fault("CreateDesktopW")) {
        SetLastError(fault->value);
        return nullptr;
    }
    if (name == nullptr || *name == u'\0' ||
        std::u16string_view(name).find(u'\\') != std::u16string_view::npos) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    winsim::SecurityDescription security;
    if (attributes != nullptr && attributes->lpSecurityDescriptor != nullptr) {
        const auto description = winsim::read_security_descriptor(attributes->lpSecurityDescriptor);
        if (!description) {
            SetLastError(ERROR_INVALID_SECURITY_DESCR);
            return nullptr;
        }
        security = *description;
    }
    const auto creator = winsim::process_token_object()->snapshot();
    if (!security.owner)
        security.owner = winsim::default_owner(creator);
    const std::u16string station = winsim::window_station_name();
    const std::string key = winsim::desktop_key(station, name);
    if (winsim::record_desktop(key, security) != ERROR_SUCCESS)
        return nullptr;
    // Its creator gets the access it asks for, as with every object it makes.
    const DWORD granted =
        (desired_access & MAXIMUM_ALLOWED) != 0
            ? winsim::kDesktopGenericMapping.all
            : winsim::map_generic_rights(desired_access, winsim::kDesktopGenericMapping);
    return reinterpret_cast<HDESK>(winsim::insert_handle(
        std::make_shared<winsim::DesktopObject>(station, name, granted, key)));
}

HDESK OpenDesktopW(LPCWSTR name, DWORD flags, BOOL, DWORD desired_access) {
    if (auto fault = winsim::take_fault("OpenDesktopW")) {
        SetLastError(fault->value);
        return nullptr;
    }
    if (name == nullptr || (flags & ~DF_ALLOWOTHERACCOUNTHOOK) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::u16string station = winsim::window_station_name();
    const auto desktop = winsim::find_desktop(station, name);
    if (!desktop) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    const auto granted = winsim::desktop_access(*desktop, desired_access);
    if (!granted) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return reinterpret_cast<HDESK>(winsim::insert_handle(
        std::make_shared<winsim::DesktopObject>(station, desktop->name, *granted)));
}

HDESK GetThreadDesktop(DWORD thread_id) {
    if (auto fault = winsim::take_fault("GetThreadDesktop")) {
        SetLastError(fault->value);
        return nullptr;
    }
    if (!winsim::is_thread_of_this_process(thread_id)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const auto connected = winsim::process_connection();
    if (connected.handle == nullptr)
        SetLastError(connected.error);
    return connected.handle;
}

BOOL SwitchDesktop(HDESK desktop) {
    if (auto fault = winsim::take_fault("SwitchDesktop"))
        return winsim::fail(fault->value);
    const auto object = winsim::object_as<winsim::DesktopObject>(reinterpret_cast<HANDLE>(desktop));
    if (!object)
        return winsim::fail(ERROR_INVALID_HANDLE);
    if ((object->granted() & DESKTOP_SWITCHDESKTOP) == 0 ||
        !winsim::is_visible_window_station(object->station()))
        return winsim::fail(ERROR_ACCESS_DENIED);
    const std::string input = winsim::desktop_key(object->station(), object->name());
    const DWORD recorded =
        winsim::update_machine_state(winsim::kInputDesktopState, [&](nlohmann::json& state) {
            state["input"] = input;
            return true;
        });
    return recorded == ERROR_SUCCESS ? TRUE : FALSE;
}

BOOL CloseDesktop(HDESK desktop) {
    const HANDLE handle = reinterpret_cast<HANDLE>(desktop);
    // The connection's handle stays with the process ("cannot be closed by calling the
    // CloseDesktop function").
    if (winsim::is_connection(desktop))
        return winsim::fail(ERROR_BUSY);
    // As CloseHandle: the handle is gone after a refusal too.
    if (auto fault = winsim::take_fault("CloseDesktop");
        fault && fault->kind == winsim::FaultKind::fail) {
        if (winsim::object_as<winsim::DesktopObject>(handle))
            winsim::remove_handle(handle);
        return winsim::fail(fault->value);
    }
    if (!winsim::object_as<winsim::DesktopObject>(handle) || !winsim::remove_handle(handle))
        return winsim::fail(ERROR_INVALID_HANDLE);
    return TRUE;
}
