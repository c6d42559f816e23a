#pragma once
// A desktop of its own for each command, in the worker's window station, open only to the
// sandbox group, the run's capability SID and the worker's logon session.

#include <string_view>

#include "cli/failure.h"
#include "platform/unique_resource.h"
#include "platform/wide_text.h"

namespace quarvel {

inline constexpr std::string_view kDesktopNamePrefix = "QuarvelProtectedDesktop-";

struct PrivateDesktop {
    WideString path;  // window station + "\" + desktop name, for STARTUPINFOW.lpDesktop
    UniqueDesktop handle;
};

// Creates "QuarvelProtectedDesktop-" + `suffix` with a DACL of exactly three grants of the
// desktop's generic read and write rights (0x000200FF: everything a program does on its own
// desktop, but not switching to it or changing its security): group, capability, logon SID in
// that order. The worker's own handle asks for the same rights. Codes: invalid_sid,
// window_station_name_failed, user_object_acl_failed, desktop_create_failed.
Result<PrivateDesktop> create_private_desktop(std::string_view suffix, std::string_view group_sid,
                                              std::string_view capability_sid, PSID logon_sid);

}  // namespace quarvel
