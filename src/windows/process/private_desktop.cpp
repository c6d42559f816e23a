#include "windows/process/private_desktop.h"

#include <string>
#include <vector>

#include "windows/security/explicit_access.h"
#include "windows/security/os_failure.h"
#include "windows/security/sid_conversion.h"

namespace quarvel {
namespace {

// The desktop's generic read and write rights as its type maps them: every desktop-specific
// right except DESKTOP_SWITCHDESKTOP (0x0100), with READ_CONTROL. Without the switch right the
// command cannot make its hidden desktop the one the user sees and draw there; without
// WRITE_DAC and WRITE_OWNER it cannot grant itself that right afterwards; DELETE it never needs.
constexpr DWORD kCommandDesktopAccess = 0x000200FF;

Failure station_failure(std::string_view message) {
    return fixed_failure("window_station_name_failed", message, exit_code::internal);
}

Failure name_unreadable() {
    return os_failure("window_station_name_failed",
                      "Could not read the current command window station name.");
}

Result<std::string> window_station_name() {
    // Belongs to the process: never closed.
    const HWINSTA station = GetProcessWindowStation();
    if (station == nullptr)
        return std::unexpected(os_failure("window_station_name_failed",
                                          "Could not access the current command window station."));
    DWORD needed = 0;
    GetUserObjectInformationW(station, UOI_NAME, nullptr, 0, &needed);
    if (needed < 2)
        return std::unexpected(name_unreadable());
    std::vector<WCHAR> units((needed + 1) / 2, 0);
    if (!GetUserObjectInformationW(station, UOI_NAME, units.data(),
                                   static_cast<DWORD>(units.size() * sizeof(WCHAR)), &needed))
        return std::unexpected(name_unreadable());

    WideView name(units.data(), units.size());
    name = name.substr(0, name.find(WCHAR{0}));
    auto text = narrow_strict(name);
    if (!text)
        return std::unexpected(station_failure("invalid utf-16: lone surrogate found"));
    if (text->empty() || text->find('\\') != std::string::npos)
        return std::unexpected(station_failure("Current command window station name is invalid."));
    return std::move(*text);
}

}  // namespace

Result<PrivateDesktop> create_private_desktop(std::string_view suffix, std::string_view group_sid,
                                              std::string_view capability_sid, PSID logon_sid) {
    auto group = sid_from_string(group_sid);
    if (!group)
        return std::unexpected(std::move(group.error()));
    auto capability = sid_from_string(capability_sid);
    if (!capability)
        return std::unexpected(std::move(capability.error()));

    auto station = window_station_name();
    if (!station)
        return std::unexpected(std::move(station.error()));
    const std::string desktop_name = std::string(kDesktopNamePrefix) + std::string(suffix);
    const WideString wide_name = to_wide(desktop_name);

    EXPLICIT_ACCESS_W grants[3] = {grant_to_sid(group->get(), kCommandDesktopAccess),
                                   grant_to_sid(capability->get(), kCommandDesktopAccess),
                                   grant_to_sid(logon_sid, kCommandDesktopAccess)};
    auto acl = merge_grants(grants, nullptr);
    if (!acl)
        return std::unexpected(
            formatted_failure("user_object_acl_failed", exit_code::internal,
                              "Could not prepare private command access: ", acl.error(), "."));
    SECURITY_DESCRIPTOR descriptor{};
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION))
        return std::unexpected(
            os_failure("user_object_acl_failed", "Could not initialize private command access."));
    if (!SetSecurityDescriptorDacl(&descriptor, TRUE, acl->get(), FALSE))
        return std::unexpected(
            os_failure("user_object_acl_failed", "Could not apply private command access."));
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};

    UniqueDesktop desktop(
        CreateDesktopW(wide_name.c_str(), nullptr, nullptr, 0, kCommandDesktopAccess, &attributes));
    if (!desktop)
        return std::unexpected(
            os_failure("desktop_create_failed", "Could not create private command desktop."));
    return PrivateDesktop{to_wide(*station + "\\" + desktop_name), std::move(desktop)};
}

}  // namespace quarvel
