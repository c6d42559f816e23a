#include <string>

#include "platform/win32.h"
#include "selftest/probe/sandbox_checks.h"

namespace quarvel::selftest {
namespace {

constexpr std::string_view kPrivatePrefix = "QuarvelProtectedDesktop-";

std::uint32_t last_error() {
    return static_cast<std::uint32_t>(GetLastError());
}

// Opens a desktop of this window station and lets it go again: 0 or the error.
std::uint32_t try_open_desktop(const WideString& name, DWORD access) {
    UniqueDesktop desktop(OpenDesktopW(name.c_str(), 0, FALSE, access));
    return desktop ? 0 : last_error();
}

std::string desktop_name(HDESK desktop) {
    DWORD needed = 0;
    GetUserObjectInformationW(desktop, UOI_NAME, nullptr, 0, &needed);
    if (needed < sizeof(WCHAR))
        return {};
    WideString name(needed / sizeof(WCHAR), WCHAR{0});
    if (!GetUserObjectInformationW(desktop, UOI_NAME, name.data(), needed, &needed))
        return {};
    return narrow_lossy(WideView(name.c_str()));
}

#if QUARVEL_HAS_CLIPBOARD
CheckResult clipboard_observation() {
    const char* title = "open the clipboard the user's programs share";
    if (!OpenClipboard(nullptr))
        return observation("desktop.clipboard", title,
                           "refused (Windows error " + std::to_string(last_error()) + ")");
    const bool text = IsClipboardFormatAvailable(CF_UNICODETEXT) != 0;
    CloseClipboard();
    return observation("desktop.clipboard", title,
                       text ? "opened, text on it readable" : "opened, no text on it");
}
#else
CheckResult clipboard_observation() {
    return unavailable("desktop.clipboard", "open the clipboard the user's programs share",
                       Expectation::observe);
}
#endif

}  // namespace

std::vector<CheckResult> desktop_checks() {
    std::vector<CheckResult> checks;
    // The connection's handle belongs to the process: never closed.
    const HDESK own = GetThreadDesktop(GetCurrentThreadId());
    const std::string name = own != nullptr ? desktop_name(own) : std::string();
    checks.push_back(property(
        "desktop.private", "the command's desktop is its private one",
        name.starts_with(kPrivatePrefix),
        own == nullptr ? "no desktop (Windows error " + std::to_string(last_error()) + ")" : name));
    checks.push_back(attempt("desktop.default.open_for_writing",
                             "open the Default desktop with write access", Expectation::denied,
                             try_open_desktop(to_wide("Default"), GENERIC_WRITE)));
    if (own == nullptr) {
        checks.push_back(not_reached("desktop.switch", "SwitchDesktop to its own desktop",
                                     Expectation::denied, "it has no desktop"));
    } else {
        const std::uint32_t switched = SwitchDesktop(own) ? 0 : last_error();
        checks.push_back(attempt("desktop.switch", "SwitchDesktop to its own desktop",
                                 Expectation::denied, switched));
    }
    if (name.empty())
        checks.push_back(not_reached("desktop.own.open_for_switching",
                                     "open its own desktop for DESKTOP_SWITCHDESKTOP",
                                     Expectation::denied, "its desktop has no name"));
    else
        checks.push_back(attempt(
            "desktop.own.open_for_switching", "open its own desktop for DESKTOP_SWITCHDESKTOP",
            Expectation::denied, try_open_desktop(to_wide(name), DESKTOP_SWITCHDESKTOP)));
    checks.push_back(clipboard_observation());
    return checks;
}

}  // namespace quarvel::selftest
