// user32 window station and desktop calls of the simulated host.

#include <winsim/desktop.h>
#include <winsim/kernel.h>

#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "machine/faults.h"
#include "machine/machine.h"
#include "machine/object.h"
#include "machine/wtf8.h"
#include "security/security_descriptor.h"
#include "security/token.h"

namespace winsim {
namespace {

constexpr const char* kDesktopsState = "desktops.json";

std::u16string window_station_name() {
    const char* named = std::getenv("WINSIM_WINDOW_STATION");
    return named != nullptr ? utf16_from_wtf8(named) : u"WinSta0";
}

// GetProcessWindowStation's answer: a value no handle table entry has.
HWINSTA process_window_station() {
    return reinterpret_cast<HWINSTA>(std::uintptr_t{0x0FF0});
}

class DesktopObject : public KernelObject {
  public:
    DesktopObject(std::u16string name, std::string key)
        : name_(std::move(name)), key_(std::move(key)) {}
    ~DesktopObject() override {
        // A handle's close cannot report a failure; the record then outlives the desktop.
        (void)update_machine_state(kDesktopsState,
                                   [&](nlohmann::json& state) { return state.erase(key_) > 0; });
    }
    DesktopObject(const DesktopObject&) = delete;
    DesktopObject& operator=(const DesktopObject&) = delete;
    const char* type_name() const override { return "Desktop"; }
    const std::u16string& name() const { return name_; }

  private:
    std::u16string name_;
    std::string key_;
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

}  // namespace
}  // namespace winsim

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

HDESK CreateDesktopW(LPCWSTR name, LPCWSTR, LPDEVMODEW, DWORD, DWORD,
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
    std::optional<std::vector<winsim::AccessEntry>> dacl;
    if (attributes != nullptr && attributes->lpSecurityDescriptor != nullptr) {
        const auto description = winsim::read_security_descriptor(attributes->lpSecurityDescriptor);
        if (!description) {
            SetLastError(ERROR_INVALID_SECURITY_DESCR);
            return nullptr;
        }
        dacl = description->dacl;
    }
    const std::u16string desktop_name(name);
    const std::string key =
        winsim::wtf8_from_utf16(winsim::window_station_name() + u"\\" + desktop_name);
    const DWORD recorded =
        winsim::update_machine_state(winsim::kDesktopsState, [&](nlohmann::json& state) {
            state[key] = {{"dacl", winsim::dacl_to_json(dacl)}, {"creator", ::getpid()}};
            return true;
        });
    if (recorded != ERROR_SUCCESS)
        return nullptr;
    return reinterpret_cast<HDESK>(
        winsim::insert_handle(std::make_shared<winsim::DesktopObject>(desktop_name, key)));
}

BOOL CloseDesktop(HDESK desktop) {
    const HANDLE handle = reinterpret_cast<HANDLE>(desktop);
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
