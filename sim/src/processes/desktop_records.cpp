#include "processes/desktop_records.h"

#include <unistd.h>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "accounts/accounts.h"
#include "machine/ascii_text.h"
#include "machine/machine.h"
#include "machine/wtf8.h"
#include "security/token.h"

namespace winsim {
namespace {

constexpr const char* kDesktopsState = "desktops.json";
constexpr std::u16string_view kDefaultDesktop = u"Default";
constexpr DWORD kDesktopAllAccess = 0x01FF | STANDARD_RIGHTS_REQUIRED;

bool same_name(std::u16string_view left, std::u16string_view right) {
    return equal_ignoring_ascii_case(wtf8_from_utf16(std::u16string(left)),
                                     wtf8_from_utf16(std::u16string(right)));
}

std::string interactive_logon_sid() {
    for (const auto& group : interactive_administrator_token().groups)
        if ((group.attributes & kGroupLogonId) == kGroupLogonId)
            return group.sid;
    return {};
}

// "Initializing Winlogon": the application desktop "is protected; only the system and the
// interactive logon session have access to it".
DesktopRecord default_desktop() {
    DesktopRecord record;
    record.name = std::u16string(kDefaultDesktop);
    record.security.control = SE_DACL_PRESENT;
    record.security.owner = std::string(kLocalSystemSid);
    record.security.dacl = std::vector<AccessEntry>{
        {ACCESS_ALLOWED_ACE_TYPE, 0, kDesktopAllAccess, std::string(kLocalSystemSid)},
        {ACCESS_ALLOWED_ACE_TYPE, 0, kDesktopAllAccess, interactive_logon_sid()}};
    return record;
}

}  // namespace

std::u16string window_station_name() {
    const char* named = std::getenv("WINSIM_WINDOW_STATION");
    return named != nullptr ? utf16_from_wtf8(named) : u"WinSta0";
}

bool is_visible_window_station(std::u16string_view station) {
    return same_name(station, u"WinSta0");
}

std::string desktop_key(std::u16string_view station, std::u16string_view name) {
    return wtf8_from_utf16(std::u16string(station) + u"\\" + std::u16string(name));
}

DWORD record_desktop(const std::string& key, const SecurityDescription& security) {
    return update_machine_state(kDesktopsState, [&](nlohmann::json& state) {
        state[key] = {{"dacl", dacl_to_json(security.dacl)},
                      {"owner", security.owner ? nlohmann::json(*security.owner) : nullptr},
                      {"creator", ::getpid()}};
        return true;
    });
}

void forget_desktop(const std::string& key) {
    (void)update_machine_state(kDesktopsState,
                               [&](nlohmann::json& state) { return state.erase(key) > 0; });
}

std::optional<DesktopRecord> find_desktop(std::u16string_view station, std::u16string_view name) {
    const auto state = read_machine_state(kDesktopsState);
    for (const auto& [key, value] : state.items()) {
        const std::u16string path = utf16_from_wtf8(key);
        const auto slash = path.rfind(u'\\');
        if (slash == std::u16string::npos ||
            !same_name(std::u16string_view(path).substr(0, slash), station) ||
            !same_name(std::u16string_view(path).substr(slash + 1), name))
            continue;
        DesktopRecord record;
        record.key = key;
        record.name = path.substr(slash + 1);
        record.security.control = SE_DACL_PRESENT;
        record.security.dacl = dacl_from_json(value.at("dacl"));
        if (value.contains("owner") && value.at("owner").is_string())
            record.security.owner = value.at("owner").get<std::string>();
        return record;
    }
    if (same_name(name, kDefaultDesktop))
        return default_desktop();
    return std::nullopt;
}

DesktopPath process_desktop_path() {
    const char* named = std::getenv("WINSIM_DESKTOP");
    const std::u16string path = named != nullptr ? utf16_from_wtf8(named) : std::u16string();
    if (path.empty())
        return {window_station_name(), std::u16string(kDefaultDesktop)};
    const auto slash = path.rfind(u'\\');
    if (slash == std::u16string::npos)
        return {window_station_name(), path};
    return {path.substr(0, slash), path.substr(slash + 1)};
}

}  // namespace winsim
